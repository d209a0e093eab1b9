// Typed array of blobs (kind 110): each element is an owned blob with its own bytes, or no blob at all
// (a place just made), which reads and streams as an empty blob.
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayValue.h"
#include "containers/VValueInfo_array.h"

namespace velk {

class VBlob;
class VBlobWithPtr;

class VELK_API VArrayBlob : public VArrayValue
{
public:
	// count places without a blob.
	explicit VArrayBlob(int32 count = 0);
	// Frees every element blob and the block.
	~VArrayBlob() override;

	const VValueInfo* GetValueInfo() const override { return &sInfo; }
	ValueKind GetValueKind() const override { return VK_ARRAY_BLOB; }
	ValueKind GetElemValueKind() const override { return VK_BLOB; }

	// The element's blob, owned by the array; null outside 1..count or for a place without a blob.
	const VBlobWithPtr* GetBlob(int32 pos) const;
	// A blob target takes the element's bytes (none for a place without a blob); other targets are
	// cleared, as are all targets outside 1..count.
	void GetValue(VValueSingle& out, int32 pos) const override;
	// A copy of the element (an empty blob for a place without one); null when memory is short.
	VValueSingle* CloneValue(int32 pos) const override;
	// Stores a copy of a blob's bytes; any other value, or a position outside 1..count, is ignored, as is a
	// copy that cannot be made for want of memory (the element is then unchanged).
	void FromValue(const VValueSingle& value, int32 pos) override;
	// Bytes compared as unsigned, a shorter blob that begins the other first; a place without a blob
	// orders first. A value that is neither an owning nor a read-only blob cannot be ordered: CR_UNRELEVANT.
	CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32 pos) const override;
	// Matches by the order of CompareTo; -1 for a value that is not a blob.
	int32 Find(const VValueSingle& value, int32 start, bool forward, CompareMethod method) const override;

	// In the order of CompareTo.
	void Sort(int32 from, int32 to, bool descending) override;
	int32 CompareElements(void* data, int32 i, int32 j) override;

	// Deletes the blobs of n elements from the 0-based index from and leaves those places without one.
	void DeleteElements(int32 from, int32 n) override;

	static const VValueInfo_array<VArrayBlob, VK_ARRAY_BLOB> sInfo;

protected:
	// Each element: the blob's own stream form (a uint32 length and the bytes); a place without a blob is
	// written as an empty blob, and every element read is a blob.
	uint64 _MinStreamBytes(int32 count) const override { return uint64(count) * 4; }
	VError _ReadElements(VStream* stream) override;
	void _WriteElements(VStream* stream) const override;
	bool _CopyElementsFrom(const VArrayValue& other) override;

private:
	VBlobWithPtr* _GetElement(int32 pos) const;
	void _SetElement(int32 pos, VBlobWithPtr* element);
	// A new blob holding size bytes from data; null when memory is short.
	static VBlobWithPtr* _NewCopy(const void* data, size_t size);
	// The element against size bytes (bytes is never null for a blob, null for a place without one).
	static int32 _CompareBytes(const VBlobWithPtr* element, const uint8* bytes, size_t size);
	// The bytes of an owning or read-only blob; false for any other value.
	static bool _BytesOf(const VValueSingle& value, const uint8*& bytes, size_t& size);
};

}  // namespace velk
