// Typed array of 64-bit signed integers (kind 104).
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayScalar.h"
#include "containers/VValueInfo_array.h"

namespace velk {

class VELK_API VArrayLong8 : public VArrayScalar<VArrayLong8, int64>
{
public:
	static constexpr ValueKind kKIND = VK_ARRAY_LONG8;
	static constexpr ValueKind kELEMENT_KIND = VK_LONG8;
	static constexpr bool kRAW_SORT = true;

	// count zeroed elements; the array stays empty when the block cannot be had.
	explicit VArrayLong8(int32 count = 0) : VArrayScalar(count) {}

	// 0 outside 1..count.
	int64 GetLong8(int32 pos) const { return _Get(pos); }
	// Nothing outside 1..count.
	void FromLong8(int64 value, int32 pos) override { _Set(value, pos); }
	// Bisection in an array sorted ascending: the 1-based position of an element equal to value, or -1.
	int32 QuickFind(int64 value) const { return _QuickFind(value); }

	static const VValueInfo_array<VArrayLong8, VK_ARRAY_LONG8> sInfo;

private:
	friend VArrayScalar;
	static int64 _FromValue(const VValueSingle& value) { return value.GetLong8(); }
	static void _IntoValue(int64 element, VValueSingle& out) { out.FromLong8(element); }
	// Null when memory is short.
	static VValueSingle* _NewValue(int64 element);
};

}  // namespace velk
