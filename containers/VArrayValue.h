// Base of the typed value arrays: a whole column of one element kind kept in one contiguous block,
// resized, grown and emptied by 1-based position. Each kind adds its typed access.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VValueMultiple.h"

namespace velk {

class VString;
class VValueSingle;

class VELK_API VArrayValue : public VValueMultiple
{
public:
	// Arrays own what their elements point to: they are not copied through the value base.
	VArrayValue(const VArrayValue&) = delete;
	VArrayValue& operator=(const VArrayValue&) = delete;
	// Frees the block. A kind whose elements own memory releases them in its own destructor first.
	~VArrayValue() override;

	int32 GetCount() const override { return fCount; }
	// The kind of the elements; 65535 (no kind) here.
	virtual ValueKind GetElemValueKind() const { return VK_UNDEFINED; }

	// Sets the number of elements (a negative count counts as 0): a smaller count first releases the
	// dropped elements; new elements are zeroed. The block keeps room beyond the count: it doubles when it
	// must grow and is given back when less than a quarter is used (count 0 frees it). False, with the
	// array unchanged, when the block cannot grow.
	virtual bool SetCount(int32 count);
	// Makes room for count zeroed elements before the 1-based position pos (clamped to 1..count+1).
	// False, with the array unchanged, when the block cannot grow.
	virtual bool Insert(int32 pos, int32 count);
	// Empties the array (count 0, block freed).
	void Clear() override;
	void Destroy() { Clear(); }

	// Grows the array by one element set from the string; returns the new count (the old one, array
	// unchanged, when the block cannot grow).
	int32 AppendString(const VString& text);

	// Copies the element at the 1-based pos into out through out's own setter; out is cleared for a
	// position outside 1..count. The base, without elements of its own, clears out.
	virtual void GetValue(VValueSingle& out, int32 pos) const;

	// Moves n elements from the 0-based index from to to (overlap allowed); nothing for negative indexes,
	// ranges past the count, equal indexes or n < 1.
	virtual void MoveElements(int32 from, int32 to, int32 n);
	// Releases what n elements from the 0-based index from own; nothing for plain kinds.
	virtual void DeleteElements(int32 from, int32 n);
	// Zeroes n elements from the 0-based index from.
	virtual void InitElements(int32 from, int32 n);

protected:
	// count zeroed elements of elementSize bytes (a negative count counts as 0); the array stays empty when
	// the block cannot be had.
	VArrayValue(uint32 elementSize, int32 count);

	// Start of the element at the 0-based index.
	uint8* _ElementAt(int32 index) const { return static_cast<uint8*>(fData) + size_t(index) * fElementSize; }
	bool _IsValidPos(int32 pos) const { return pos >= 1 && pos <= fCount; }

	uint32 fElementSize;
	int32 fCount = 0;
	void* fData = nullptr;
	// Bytes of the block: the capacity, at least fCount * fElementSize.
	int32 fDataSize = 0;
};

}  // namespace velk
