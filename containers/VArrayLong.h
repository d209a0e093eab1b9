// Typed array of 32-bit signed integers (kind 103).
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayScalar.h"
#include "containers/VValueInfo_array.h"

namespace velk {

class VELK_API VArrayLong : public VArrayScalar<VArrayLong, int32>
{
public:
	static constexpr ValueKind kKIND = VK_ARRAY_LONG;
	static constexpr ValueKind kELEMENT_KIND = VK_LONG;
	static constexpr bool kRAW_SORT = true;

	// count zeroed elements; the array stays empty when the block cannot be had.
	explicit VArrayLong(int32 count = 0) : VArrayScalar(count) {}

	// 0 outside 1..count.
	int32 GetLong(int32 pos) const { return _Get(pos); }
	// Nothing outside 1..count.
	void FromLong(int32 value, int32 pos) override { _Set(value, pos); }
	// The largest element; the smallest int32 for an empty array.
	int32 GetMax() const { return _GetMax(); }
	// The smallest element; the largest int32 for an empty array.
	int32 GetMin() const { return _GetMin(); }
	// Bisection in an array sorted ascending: the 1-based position of an element equal to value, or -1.
	int32 QuickFind(int32 value) const { return _QuickFind(value); }

	static const VValueInfo_array<VArrayLong, VK_ARRAY_LONG> sInfo;

private:
	friend VArrayScalar;
	static int32 _FromValue(const VValueSingle& value) { return value.GetLong(); }
	static void _IntoValue(int32 element, VValueSingle& out) { out.FromLong(element); }
	// Null when memory is short.
	static VValueSingle* _NewValue(int32 element);
};

}  // namespace velk
