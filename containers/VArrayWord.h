// Typed array of 16-bit signed integers (kind 102).
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayScalar.h"
#include "containers/VValueInfo_array.h"

namespace velk {

class VELK_API VArrayWord : public VArrayScalar<VArrayWord, int16>
{
public:
	static constexpr ValueKind kKIND = VK_ARRAY_WORD;
	static constexpr ValueKind kELEMENT_KIND = VK_WORD;
	static constexpr bool kRAW_SORT = true;

	// count zeroed elements; the array stays empty when the block cannot be had.
	explicit VArrayWord(int32 count = 0) : VArrayScalar(count) {}

	// 0 outside 1..count.
	int16 GetWord(int32 pos) const { return _Get(pos); }
	// Nothing outside 1..count.
	void FromWord(int16 value, int32 pos) override { _Set(value, pos); }
	// The largest element; the smallest int16 for an empty array.
	int16 GetMax() const { return _GetMax(); }
	// The smallest element; the largest int16 for an empty array.
	int16 GetMin() const { return _GetMin(); }
	// Bisection in an array sorted ascending: the 1-based position of an element equal to value, or -1.
	int32 QuickFind(int16 value) const { return _QuickFind(value); }

	static const VValueInfo_array<VArrayWord, VK_ARRAY_WORD> sInfo;

private:
	friend VArrayScalar;
	static int16 _FromValue(const VValueSingle& value) { return value.GetWord(); }
	static void _IntoValue(int16 element, VValueSingle& out) { out.FromWord(element); }
	// Null when memory is short.
	static VValueSingle* _NewValue(int16 element);
};

}  // namespace velk
