// The UUID value (kind 13): a 16-byte identifier with the value behaviour (null, comparisons, flat, text and
// JSON forms) and the making of new ones: random (version 4), time-ordered (version 7) or by the platform.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

// The identifier's bytes in their own order, byte 0 first; never byte-swapped.
struct VELK_API VUUIDBuffer
{
	uint8 fBytes[16] = {};
};

class VUUID_info;

class VELK_API VUUID : public VValueSingle
{
public:
	// Which identifier a generation makes: the platform's generator, a time-ordered one (version 7), or,
	// for any other value, a random one (version 4).
	enum Version : uint8
	{
		eVersion_Platform = 0,
		eVersion_Random = 4,
		eVersion_TimeOrdered = 7
	};

	static constexpr size_t kSize = 16;

	// The kind's descriptor and the shared null identifier, built by the library's static initialisers.
	static const VUUID_info sInfo;
	static const VUUID sNullUUID;

	// Null, 16 zero bytes, dirty.
	VUUID();
	// The bytes; null exactly when all are zero. Dirty.
	explicit VUUID(const VUUIDBuffer& buffer);
	// Not null, then FromString.
	explicit VUUID(const VString& text);
	// FromBuffer of the 8-bit text.
	explicit VUUID(const char* text);
	// generate: a new identifier of the version, not null; otherwise null with zero bytes. Dirty.
	explicit VUUID(bool generate, Version version = eVersion_Random);
	// The bytes and null state (dirty set), not the cached text.
	VUUID(const VUUID& other);
	VUUID& operator=(const VUUID& other);
	~VUUID() override;

	// A new identifier of the version; not null and dirty. When the platform generator fails the value is
	// left as it was.
	void Regenerate(Version version = eVersion_Random);

	const VUUIDBuffer& GetBuffer() const { return fData; }
	void FromBuffer(const VUUIDBuffer& buffer);
	void ToBuffer(VUUIDBuffer& buffer) const { buffer = fData; }
	// A zero-terminated 8-bit text: 32 characters are read as hexadecimal digits (any other character
	// counts as 0); 16 or fewer become the first bytes, zero bytes after; any other length leaves the bytes
	// alone. Then null exactly when all bytes are zero. Null text counts as empty.
	void FromBuffer(const char* text);

	// 32 upper-case hexadecimal digits, two per byte from byte 0; 32 zeros for a null value.
	void GetString(VString& text) const override;
	// The first 32 hexadecimal digits of the text (either case; dashes, braces and any other character
	// skipped) become the bytes. With fewer digits the text is taken as a name (BuildFromAnsiString).
	// Not null, dirty.
	void FromString(const VString& text) override;
	// The text's first 16 UTF-8 bytes over 16 spaces. Not null, dirty.
	void BuildFromAnsiString(const VString& text);
	// True for exactly 32 upper-case hexadecimal digits, not all '0' unless acceptNull.
	static bool IsUUIDString(const VString& text, bool acceptNull = false);
	// The text form kept with the value and refreshed with it, owned by the value; made on demand with
	// create, else null when there is none yet (or memory was short).
	VString* GetCachedConvertedString(bool create = true) const;

	void GetVUUID(VUUID& uuid) const override;
	void FromVUUID(const VUUID& uuid) override;
	void GetValue(VValueSingle& value) const override;
	// The other value's identifier (its GetVUUID into this one).
	void FromValue(const VValueSingle& value) override;

	// Zero bytes, null, dirty.
	void Clear() override;
	VValue* Clone() const override;
	const VValueInfo* GetValueInfo() const override;

	// Byte by byte from byte 0, unsigned: the order of the texts.
	bool operator==(const VUUID& other) const;
	bool operator!=(const VUUID& other) const { return !(*this == other); }
	bool operator<(const VUUID& other) const;

	// CR_UNRELEVANT when other is not an identifier. Options and the diacritical flag play no part; other
	// must be an identifier, flat data 16 bytes.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
	CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
	bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	bool EqualToSameKindPtr(const void* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	bool EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	// Copies another identifier and its null state; false (nothing done) when other is not one.
	bool FromValueSameKind(const VValue* other) override;

	// Flat form: the 16 bytes. Loading makes the value null exactly when they are all zero; a limit from 1
	// to 15 writes nothing.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	// Null, value unchanged, when available is below 16.
	const void* LoadFromPtrBounded(const void* data, uint64 available, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// Stream form: the 16 bytes as they are, never swapped, no header. Reading makes the value not null even
	// for 16 zero bytes; when the stream fails the value is left as it was. Both answer the stream's error.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

	// The text form as a JSON string literal, whatever the null state; answers 0 (velk 107 when memory is
	// short).
	VError GetJSONString(VString& json, uint32 options = 0) const override;
	// JSON null for a null value, else a JSON string of the text form. Answers 0.
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;
	// JSON null makes the value null; any other JSON value is read as text (FromString). Answers 0.
	VError FromJSONValue(const VJSONValue& json) override;

protected:
	// Becoming null zeroes the bytes; the cached text follows.
	void DoNullChanged() override;

private:
	void _Generate(Version version);
	// After the bytes changed: null exactly when asked, dirty, cached text refreshed.
	void _Changed(bool null);
	void _RefreshCache() const;

	VUUIDBuffer fData;
	mutable VString* fCachedText = nullptr;
};

// Descriptor of kind 13: makes null identifiers, loads them from their 16 flat bytes (null when all are
// zero) and orders flat data byte by byte. Flat data are never swapped: ByteSwapPtr only steps over them.
class VELK_API VUUID_info : public VValueInfo_default<VUUID, VK_UUID>
{
public:
	void* ByteSwapPtr(void* data, bool fromNative) const override;
	CompareResult CompareTwoPtrToData(const void* data1, const void* data2, bool diacritical = false) const override;
	CompareResult CompareTwoPtrToDataBegining(const void* data1, const void* data2, bool diacritical = false) const override;
	CompareResult CompareTwoPtrToDataWithOptions(const void* data1, const void* data2, const VCompareOptions& options) const override;
	uint64 GetSizeOfValueDataPtr(const void* data) const override;
	uint64 GetAvgSpace() const override;
};

}  // namespace velk
