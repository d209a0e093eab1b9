// Typed array of signed bytes (kind 101), one per element.
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayScalar.h"
#include "containers/VValueInfo_array.h"

namespace velk {

class VELK_API VArrayByte : public VArrayScalar<VArrayByte, int8>
{
public:
	static constexpr ValueKind kKIND = VK_ARRAY_BYTE;
	static constexpr ValueKind kELEMENT_KIND = VK_BYTE;
	static constexpr bool kRAW_SORT = true;

	// count zeroed elements; the array stays empty when the block cannot be had.
	explicit VArrayByte(int32 count = 0) : VArrayScalar(count) {}

	// 0 outside 1..count.
	int8 GetByte(int32 pos) const { return _Get(pos); }
	// Nothing outside 1..count.
	void FromByte(int8 value, int32 pos) override { _Set(value, pos); }
	// The largest element; the smallest int8 for an empty array.
	int8 GetMax() const { return _GetMax(); }
	// The smallest element; the largest int8 for an empty array.
	int8 GetMin() const { return _GetMin(); }
	// Bisection in an array sorted ascending: the 1-based position of an element equal to value, or -1.
	int32 QuickFind(int8 value) const { return _QuickFind(value); }

	static const VValueInfo_array<VArrayByte, VK_ARRAY_BYTE> sInfo;

private:
	friend VArrayScalar;
	static int8 _FromValue(const VValueSingle& value) { return value.GetByte(); }
	static void _IntoValue(int8 element, VValueSingle& out) { out.FromByte(element); }
	// Null when memory is short.
	static VValueSingle* _NewValue(int8 element);
};

}  // namespace velk
