// Blob values (kind 11): runs of bytes. VBlob is the interface; VBlobWithPtr owns its bytes in a growable
// buffer; VConstBlobWithPtr shows a caller's bytes without owning or changing them.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

class VBlob_info;

// Offsets are 32-bit. A blob answers its errors and raises none: velk 100 when memory is short, 200 when
// fewer bytes than asked are there, 204 for a change to a read-only blob, 3 for a negative offset or a null
// source with a non-zero count. An owning blob's JSON form is a JSON Blob object; a read-only blob has
// none (FromJSONValue answers velk 2, GetJSONValue makes the JSON value null and answers velk 2).
class VELK_API VBlob : public VValueSingle
{
public:
	// The kind's descriptor, built by the library's static initialisers.
	static const VBlob_info sInfo;

	VBlob() = default;
	VBlob(const VBlob&) = default;
	VBlob& operator=(const VBlob&) = delete;
	~VBlob() override = default;

	virtual size_t GetSize() const = 0;
	// New bytes have no defined content.
	virtual VError SetSize(size_t size) = 0;
	// Copies up to count bytes from offset; outRead receives the bytes copied. velk 200 when fewer than
	// count were there, an offset beyond the size included (nothing copied then).
	virtual VError GetData(void* buffer, size_t count, int offset, size_t* outRead = nullptr) const = 0;
	// Writes count bytes at offset, growing the blob when they reach past its end.
	virtual VError PutData(const void* data, size_t count, int offset) = 0;
	// SetSize(count), then the bytes at 0; the first error.
	virtual VError FromData(const void* data, size_t count);

	const VValueInfo* GetValueInfo() const override;
	// FromData(null, 0).
	void Clear() override;
	// Blobs have no order: CR_UNRELEVANT.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
	bool CanBeEvaluated() const override { return false; }
	// Do nothing at this level.
	void GetValue(VValueSingle& value) const override;
	void FromValue(const VValueSingle& value) override;

	// No flat form at this level: null positions.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	const void* LoadFromPtrBounded(const void* data, uint64 available, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	// GetSize(); ioExtra is left alone.
	uint64 GetFullSpaceOnDisk(uint64& ioExtra) const override;

protected:
	// A blob made null gives up its bytes.
	void DoNullChanged() override;

	// The shared halves of the concrete blobs, over their bytes.
	static VError _CopyOut(const uint8* bytes, size_t size, void* buffer, size_t count, int offset, size_t* outRead);
	// Flat form: an int32 length in host order, then the bytes. A flat form holds at most 2 GiB - 1 bytes;
	// a non-zero limit cuts the bytes to fit and one below 4 writes nothing.
	static void* _WriteFlat(const uint8* bytes, size_t size, void* data, uint64 limit);
	static uint64 _FlatSpace(size_t size, uint64 limit);
	// Stream form: a uint32 length in the stream's byte order, then the bytes as they are. A blob of 4 GiB
	// or more is refused with velk 3, stored in the stream.
	static VError _WriteStream(const uint8* bytes, size_t size, VStream* stream);
	// The target's FromData with the bytes, when it is a blob.
	static void _GetValueInto(const uint8* bytes, size_t size, VValueSingle& target);
};

// A blob owning its bytes, in blocks of exactly their size (tag 'memb') from its memory manager. When a
// constructor cannot get memory the blob is left empty, without an error.
class VELK_API VBlobWithPtr : public VBlob
{
public:
	// Empty, not null, dirty, on the process memory manager.
	VBlobWithPtr();
	// A copy of the count bytes; not null, dirty, on the process memory manager.
	VBlobWithPtr(const void* data, size_t count);
	// The source's bytes, null state and memory manager; dirty.
	VBlobWithPtr(const VBlobWithPtr& other);
	// The source's bytes (none when it is null) and null state, on the process memory manager; dirty.
	explicit VBlobWithPtr(const VBlob& other);
	VBlobWithPtr& operator=(const VBlobWithPtr&) = delete;
	~VBlobWithPtr() override = default;

	const uint8* GetDataPtr() const { return fBuffer.GetDataPtr(); }

	size_t GetSize() const override { return size_t(fBuffer.GetDataSize()); }
	// Bytes added at the end are zeros. velk 100, blob and flags as they were, when memory is short.
	VError SetSize(size_t size) override;
	VError GetData(void* buffer, size_t count, int offset, size_t* outRead = nullptr) const override;
	// Bytes between the old end and offset become zeros. velk 100 when memory is short (the blob is then
	// marked not null and dirty, its bytes unchanged); velk 3, nothing changed, for a negative offset.
	VError PutData(const void* data, size_t count, int offset) override;
	// The bytes in a block of exactly count bytes (freed at 0); data may lie inside this blob. velk 100 when
	// memory is short (marked not null and dirty, bytes unchanged).
	VError FromData(const void* data, size_t count) override;

	VValue* Clone() const override;
	// Copies another VBlobWithPtr's bytes and null state; false when other is not one, or when its bytes
	// could not be copied.
	bool FromValueSameKind(const VValue* other) override;
	// True for another non-null VBlobWithPtr with the same bytes.
	bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
	bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	// Into a blob target: its FromData with these bytes; other targets are left alone.
	void GetValue(VValueSingle& value) const override;
	// Clears the blob, then takes the bytes of a VBlobWithPtr source (any other source leaves it empty).
	void FromValue(const VValueSingle& value) override;
	// Clears the blob, then takes the bytes of a JSON Blob object; anything else makes the blob null (0).
	// The PutData error when the bytes cannot be stored.
	VError FromJSONValue(const VJSONValue& json) override;
	// A new JSON Blob object with a copy of the bytes (empty for a null blob); velk 100, json untouched,
	// when memory is short.
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

	// A length of 0 empties the blob. A negative length is refused: null position, blob unchanged.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	// Null, blob unchanged, when available does not hold the length and all the bytes it announces.
	const void* LoadFromPtrBounded(const void* data, uint64 available, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// A length larger than the bytes left in the stream is corrupt data: velk 200 stored in the stream,
	// blob unchanged. When memory is short the bytes are skipped and velk 100 answered. Null and dirty
	// flags are not touched.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

private:
	void _SetNotNullDirty();

	VMemoryBuffer<> fBuffer;
};

// A read-only blob over a caller's bytes, which must outlive it; every change answers velk 204. It keeps
// the value model's defaults for equality.
class VELK_API VConstBlobWithPtr : public VBlob
{
public:
	// Not null, dirty.
	VConstBlobWithPtr(const void* data, size_t count);
	// The same bytes (not a copy) and null state; dirty.
	VConstBlobWithPtr(const VConstBlobWithPtr& other);
	VConstBlobWithPtr& operator=(const VConstBlobWithPtr&) = delete;
	~VConstBlobWithPtr() override = default;

	const void* GetDataPtr() const { return fData; }

	size_t GetSize() const override { return fSize; }
	VError SetSize(size_t size) override;
	VError GetData(void* buffer, size_t count, int offset, size_t* outRead = nullptr) const override;
	VError PutData(const void* data, size_t count, int offset) override;
	VError FromData(const void* data, size_t count) override;

	VValue* Clone() const override;
	// Shows another VConstBlobWithPtr's bytes (not a copy) with its null state; false for other values.
	bool FromValueSameKind(const VValue* other) override;
	void GetValue(VValueSingle& value) const override;

	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

private:
	const uint8* fData;
	size_t fSize;
};

// Descriptor of kind 11: makes empty VBlobWithPtr values and loads them from their flat form (an int32
// length, then the bytes). Only the length word is ever swapped. A negative length counts as 0.
class VELK_API VBlob_info : public VValueInfo_default<VBlobWithPtr, VK_BLOB>
{
public:
	// Swaps the length word and answers the address just past the bytes.
	void* ByteSwapPtr(void* data, bool fromNative) const override;
	// The length word and the bytes.
	uint64 GetSizeOfValueDataPtr(const void* data) const override;
};

}  // namespace velk
