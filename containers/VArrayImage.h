// Typed array of pictures (kind 111): owned picture values (kind 12) kept in a list of their own rather
// than in the block; a place may hold no picture. The toolbox registers no picture kind, so pictures come
// only from a kind a program registers itself.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "containers/VArrayValue.h"
#include "containers/VValueInfo_array.h"

namespace velk {

constexpr ValueKind VK_IMAGE = 12;

class VELK_API VArrayImage : public VArrayValue
{
public:
	// count places without a picture; the array stays empty when memory is short.
	explicit VArrayImage(int32 count = 0);
	// Frees every picture.
	~VArrayImage() override;

	const VValueInfo* GetValueInfo() const override { return &sInfo; }
	ValueKind GetValueKind() const override { return VK_ARRAY_IMAGE; }
	ValueKind GetElemValueKind() const override { return VK_IMAGE; }

	// False, with the array unchanged, when the list cannot grow.
	bool SetCount(int32 count) override;

	// The picture at pos, owned by the array; null outside 1..count or for a place without one.
	const VValueSingle* GetImage(int32 pos) const;
	// out takes the picture through its FromValue; out is cleared for a place without one.
	void GetValue(VValueSingle& out, int32 pos) const override;
	// A copy of the picture; null for a place without one or when memory is short.
	VValueSingle* CloneValue(int32 pos) const override;
	// Stores a copy of a picture value (kind 12) at a position within 1..count; anything else is ignored.
	void FromValue(const VValueSingle& value, int32 pos) override;

	void* LockAndGetData() override { return fImages.data(); }
	void SwapElements(void* data, int32 i, int32 j) override;
	void MoveElements(int32 from, int32 to, int32 n) override;
	void DeleteElements(int32 from, int32 n) override;
	void InitElements(int32 from, int32 n) override;

	// No kind before the count whatever param says: the count, then each picture's own stream form, or 8
	// zero bytes for a place without one. Reading makes each picture through kind 12: a picture element that
	// is not 8 zero bytes while no picture kind is registered is velk 2 (raised), and the array is unchanged.
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

	static const VValueInfo_array<VArrayImage, VK_ARRAY_IMAGE> sInfo;

protected:
	// The block holds nothing: the pictures are in their own list.
	uint64 _BlockBytes(int32) const override { return 0; }
	// Every element takes at least the 8 bytes of an empty one.
	uint64 _MinStreamBytes(int32 count) const override { return uint64(count) * 8; }
	VError _ReadElements(VStream* stream) override;
	void _WriteElements(VStream* stream) const override;
	bool _CopyElementsFrom(const VArrayValue& other) override;
	void _SwapContent(VArrayValue& other) override;

private:
	std::vector<VValueSingle*> fImages;
};

}  // namespace velk
