// Typed array of durations (kind 108): each element is a span in signed 64-bit milliseconds.
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayScalar.h"
#include "containers/VValueInfo_array.h"

namespace velk {

class VDuration;

class VELK_API VArrayDuration : public VArrayScalar<VArrayDuration, int64>
{
public:
	static constexpr ValueKind kKIND = VK_ARRAY_DURATION;
	static constexpr ValueKind kELEMENT_KIND = VK_DURATION;
	// Durations sort through the element comparison, as the other non-number kinds do.
	static constexpr bool kRAW_SORT = false;

	// count spans of 0 ms; the array stays empty when the block cannot be had.
	explicit VArrayDuration(int32 count = 0) : VArrayScalar(count) {}

	// out takes the span at pos; 0 ms outside 1..count.
	void GetDuration(VDuration& out, int32 pos) const;
	// Nothing outside 1..count.
	void FromDuration(const VDuration& duration, int32 pos) override;
	// Bisection in an array sorted ascending: the 1-based position of a span of ms milliseconds, or -1.
	int32 QuickFind(int64 ms) const { return _QuickFind(ms); }

	static const VValueInfo_array<VArrayDuration, VK_ARRAY_DURATION> sInfo;

private:
	friend VArrayScalar;
	static int64 _FromValue(const VValueSingle& value);
	static void _IntoValue(int64 element, VValueSingle& out);
	// Null when memory is short.
	static VValueSingle* _NewValue(int64 element);
};

}  // namespace velk
