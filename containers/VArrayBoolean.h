// Typed array of booleans (kind 100), packed eight to a byte: position p is bit (p-1) mod 8, least
// significant first, of byte (p-1) div 8. The block holds (count + 8) div 8 bytes, and the bits past the
// count are always 0.
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayValue.h"
#include "containers/VValueInfo_array.h"

namespace velk {

class VELK_API VArrayBoolean : public VArrayValue
{
public:
	// count false elements; the array stays empty when the block cannot be had.
	explicit VArrayBoolean(int32 count = 0);

	const VValueInfo* GetValueInfo() const override { return &sInfo; }
	ValueKind GetValueKind() const override { return VK_ARRAY_BOOLEAN; }
	ValueKind GetElemValueKind() const override { return VK_BOOLEAN; }

	bool SetCount(int32 count) override;

	// False outside 1..count.
	bool GetBoolean(int32 pos) const;
	// Any non-zero value is true; nothing outside 1..count.
	void FromBoolean(uint8 value, int32 pos) override;

	void GetValue(VValueSingle& out, int32 pos) const override;
	VValueSingle* CloneValue(int32 pos) const override;
	void FromValue(const VValueSingle& value, int32 pos) override;
	CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32 pos) const override;

	// The first element equal to value; the method is not used.
	int32 Find(bool value, int32 start, bool forward, CompareMethod method) const;
	int32 Find(const VValueSingle& value, int32 start, bool forward, CompareMethod method) const override;

	// False before true, or true before false when descending. The whole array is rewritten from its count
	// of true bits; a part of it is sorted element by element.
	void Sort(int32 from, int32 to, bool descending) override;

	void SwapElements(void* data, int32 i, int32 j) override;
	int32 CompareElements(void* data, int32 i, int32 j) override;
	void MoveElements(int32 from, int32 to, int32 n) override;
	void InitElements(int32 from, int32 n) override;

	static const VValueInfo_array<VArrayBoolean, VK_ARRAY_BOOLEAN> sInfo;

protected:
	uint64 _BlockBytes(int32 count) const override { return (uint64(count) + 8) / 8; }
	// Bits past the count in the last byte read are cleared: they are not elements.
	VError _ReadElements(VStream* stream) override;

private:
	bool _Bit(int32 index) const;
	void _SetBit(int32 index, bool value);
	void _ClearBits(int32 from, int32 to);
};

}  // namespace velk
