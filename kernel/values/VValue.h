// Base of every typed value: the null and dirty flags with their change hooks, and the operations every
// value kind inherits (comparisons, flat-memory form, stream form, JSON forms), each with a safe default.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/VObject.h"
#include "runtime/VError.h"

namespace velk {

class VString;
class VValueSingle;
class VValueInfo;
class VCompareOptions;
class VJSONValue;
class VStream;
class VBlob;

// Value kinds, registered with their descriptors.
using ValueKind = uint16;

constexpr ValueKind VK_EMPTY = 0;
constexpr ValueKind VK_BOOLEAN = 1;
constexpr ValueKind VK_BYTE = 2;
constexpr ValueKind VK_WORD = 3;
constexpr ValueKind VK_LONG = 4;
constexpr ValueKind VK_LONG8 = 5;
constexpr ValueKind VK_REAL = 6;
constexpr ValueKind VK_TIME = 8;
constexpr ValueKind VK_DURATION = 9;
constexpr ValueKind VK_STRING = 10;
constexpr ValueKind VK_BLOB = 11;
constexpr ValueKind VK_UUID = 13;
constexpr ValueKind VK_ARRAY_BOOLEAN = 100;
constexpr ValueKind VK_ARRAY_BYTE = 101;
constexpr ValueKind VK_ARRAY_WORD = 102;
constexpr ValueKind VK_ARRAY_LONG = 103;
constexpr ValueKind VK_ARRAY_LONG8 = 104;
constexpr ValueKind VK_ARRAY_REAL = 105;
constexpr ValueKind VK_ARRAY_TIME = 107;
constexpr ValueKind VK_ARRAY_DURATION = 108;
constexpr ValueKind VK_ARRAY_STRING = 109;
constexpr ValueKind VK_ARRAY_BLOB = 110;
constexpr ValueKind VK_ARRAY_IMAGE = 111;
constexpr ValueKind VK_BAG = 200;
constexpr ValueKind VK_UNDEFINED = 65535;

// Result of every ordering comparison; CR_UNRELEVANT when two values cannot be ordered.
enum CompareResult : int32
{
	CR_SMALLER = -1,
	CR_EQUAL = 0,
	CR_BIGGER = 1,
	CR_UNRELEVANT = -1000
};

class VELK_API VValue : public VObject
{
public:
	// Bits of the flags byte. The string keeps its buffer flags (0x10 external, 0x40 unrefcounted) here too.
	static constexpr uint8 kFLAG_NULL = 0x01;
	static constexpr uint8 kFLAG_DIRTY = 0x02;

	VValue() = default;
	VValue(const VValue&) = default;
	VValue& operator=(const VValue&) = default;
	~VValue() override = default;

	bool IsNull() const { return (fFlags & kFLAG_NULL) != 0; }
	bool IsDirty() const { return (fFlags & kFLAG_DIRTY) != 0; }

	// Changes the null flag; when it changed, calls DoNullChanged, then marks the value dirty (calling
	// DoDirtyChanged only when it was clean).
	void SetNull(bool null);

	// Changes the dirty flag; calls DoDirtyChanged when it changed.
	void SetDirty(bool dirty);

	// -1 becomes 1, 1 becomes -1, anything else is returned unchanged.
	static CompareResult InvertCompResult(CompareResult result);

	// The registry of kinds: one descriptor per registry kind, the later registration winning. It is built
	// on first use and never destroyed, so descriptors may come and go from static initialisers and exit-time
	// destructors in any order; every call is safe from any thread. Unregistering removes the entry of the
	// descriptor's registry kind whichever descriptor it holds; an absent kind is ignored. A null descriptor
	// is ignored.
	static void RegisterValueInfo(const VValueInfo* info);
	static void UnregisterValueInfo(const VValueInfo* info);
	// The descriptor registered for kind, or null.
	static const VValueInfo* ValueInfoFromValueKind(ValueKind kind);
	// A new empty value made by the kind's descriptor, owned by the caller; null for an unregistered kind
	// (no error is raised).
	static VValue* NewValueFromValueKind(ValueKind kind);

	// The kind's descriptor. Default: the shared descriptor of no kind (65535), made and registered on the
	// first call.
	virtual const VValueInfo* GetValueInfo() const;

	// Empties the value; does nothing by default.
	virtual void Clear() {}

	// The value as a single value, or null when it is not one.
	virtual const VValueSingle* IsVValueSingle() const { return nullptr; }
	virtual VValueSingle* IsVValueSingle() { return nullptr; }

	// JSON forms. Default: not supported, velk 2 is raised and returned; GetJSONValue first makes the JSON
	// value undefined.
	virtual VError FromJSONString(const VString& json, uint32 options = 0);
	virtual VError GetJSONString(VString& json, uint32 options = 0) const;
	virtual VError FromJSONValue(const VJSONValue& json);
	virtual VError GetJSONValue(VJSONValue& json, uint32 options = 0) const;

	// Comparisons with another value of the same kind ("Ptr": against its flat form; "Swap_": seen from the
	// other operand; "_Like": with wildcards; "Begining": only the receiver's beginning). Kinds without an
	// order answer equal.
	virtual CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const;
	virtual bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const;
	virtual CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const;
	virtual bool EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const;
	virtual CompareResult Swap_CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const;
	virtual CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const;
	virtual CompareResult CompareBeginingToSameKind(const VValue* other, bool diacritical = false) const;
	virtual bool EqualToSameKind(const VValue* other, bool diacritical = false) const;
	virtual bool FromValueSameKind(const VValue* other);
	virtual CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const;
	virtual CompareResult Swap_CompareToSameKindPtr(const void* other, bool diacritical = false) const;
	virtual CompareResult CompareBeginingToSameKindPtr(const void* other, bool diacritical = false) const;
	virtual CompareResult IsTheBeginingToSameKindPtr(const void* other, bool diacritical = false) const;
	virtual bool EqualToSameKindPtr(const void* other, bool diacritical = false) const;
	virtual CompareResult CompareToSameKind_Like(const VValue* other, bool diacritical = false) const;
	virtual CompareResult CompareBeginingToSameKind_Like(const VValue* other, bool diacritical = false) const;
	virtual bool EqualToSameKind_Like(const VValue* other, bool diacritical = false) const;
	virtual CompareResult CompareToSameKindPtr_Like(const void* other, bool diacritical = false) const;
	virtual CompareResult Swap_CompareToSameKindPtr_Like(const void* other, bool diacritical = false) const;
	virtual CompareResult CompareBeginingToSameKindPtr_Like(const void* other, bool diacritical = false) const;
	virtual CompareResult IsTheBeginingToSameKindPtr_Like(const void* other, bool diacritical = false) const;
	virtual bool EqualToSameKindPtr_Like(const void* other, bool diacritical = false) const;
	virtual bool Swap_EqualToSameKindPtr_Like(const void* other, bool diacritical = false) const;

	// Flat-memory form (host byte order). Both return the address just past the datum; the defaults read
	// and write nothing. A non-zero limit caps the bytes written. LoadFromPtr trusts data to hold a whole
	// datum: it is for flat forms this process wrote; data that are not trusted go to LoadFromPtrBounded.
	virtual const void* LoadFromPtr(const void* data, uint8 flag = 0);
	// The loader for flat data whose size is known and whose content is not trusted (stored or received
	// data): reads the datum only when the available bytes at data hold all of it, lengths included, and
	// then answers as LoadFromPtr; otherwise answers null and leaves the value as it was. No byte at or past
	// data + available is read. The default reads nothing and answers data. A kind that overrides
	// LoadFromPtr overrides this too.
	virtual const void* LoadFromPtrBounded(const void* data, uint64 available, uint8 flag = 0);
	virtual void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const;
	// Bytes of the flat form; a non-zero limit caps the answer. ioExtra is kept for kinds stored outside
	// the object and is left untouched by every kind of the toolbox.
	virtual uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const;

	// Stream form. The defaults, kept by kinds without a stream form (bags, arrays), transfer nothing and
	// answer velk 2 without raising it.
	virtual bool CanBeStreamed() const { return false; }
	virtual uint64 GetFullSpaceOnDisk(uint64& ioExtra) const;
	virtual VError ReadFromStream(VStream* stream, int32 param = 0);
	virtual VError WriteToStream(VStream* stream, int32 param = 0) const;
	virtual uint64 GetStreamSpace() const;

	// Hooks for values whose content lives outside the object; no kind of the toolbox uses them.
	virtual VError Flush(void* data, void* context) const;
	virtual void SetReservedBlobNumber(int32 number);
	virtual VValue* FullyClone(bool forAPush = false) const;
	virtual void RestoreFromPop(void* context);
	virtual void Detach(uint8 mayEmpty = 0);
	virtual bool WillContainBlobData() const { return false; }
	virtual void SetOutsidePath(const VString& path, bool isRelative = false);
	virtual void GetOutsidePath(VString& path, bool* isRelative = nullptr);
	virtual void SetOutsideSuffixe(const VString& suffix);
	virtual bool IsOutsidePath() { return false; }
	virtual bool IsStoredOnDisk() { return false; }
	virtual bool ReloadFromOutsidePath() { return false; }
	virtual bool ForcePathIfEmpty() const { return false; }
	virtual void SetForcePathIfEmpty(bool force);
	virtual void ResetOutsidePath() {}
	virtual void SetHintRecNum(int32 tableNum, int32 fieldNum, int32 recordNum, bool keep);
	virtual void AssociateRecord(void* record, int32 fieldNum);
	virtual bool HasInternalPropertyChanged() const { return false; }
	virtual void ResetInternalPropertyChanged() {}
	virtual void AddJSONStamp() {}
	virtual VError ReadRawFromStream(VStream* stream, int32 param = 0);
	virtual VBlob* GetDataBlob() const { return nullptr; }

	// A new value of the same kind and content, owned by the caller.
	virtual VValue* Clone() const = 0;
	virtual bool CanBeEvaluated() const { return true; }

protected:
	// Called after the null or the dirty flag changed.
	virtual void DoNullChanged() {}
	virtual void DoDirtyChanged() {}

	uint8 fFlags = kFLAG_DIRTY;
};

}  // namespace velk
