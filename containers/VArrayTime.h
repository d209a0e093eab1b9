// Typed array of times (kind 107): each element is a time's 64-bit stamp, ordered as an unsigned number.
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayScalar.h"
#include "containers/VValueInfo_array.h"

namespace velk {

class VTime;

class VELK_API VArrayTime : public VArrayScalar<VArrayTime, uint64>
{
public:
	static constexpr ValueKind kKIND = VK_ARRAY_TIME;
	static constexpr ValueKind kELEMENT_KIND = VK_TIME;
	// Times sort through the element comparison, as the other non-number kinds do.
	static constexpr bool kRAW_SORT = false;

	// count zeroed stamps; the array stays empty when the block cannot be had.
	explicit VArrayTime(int32 count = 0) : VArrayScalar(count) {}

	// out takes the stamp at pos; out is cleared (a null time) outside 1..count.
	void GetTime(VTime& out, int32 pos) const;
	// Nothing outside 1..count.
	void FromTime(const VTime& time, int32 pos) override;

	static const VValueInfo_array<VArrayTime, VK_ARRAY_TIME> sInfo;

private:
	friend VArrayScalar;
	static uint64 _FromValue(const VValueSingle& value);
	static void _IntoValue(uint64 element, VValueSingle& out);
	// Null when memory is short.
	static VValueSingle* _NewValue(uint64 element);
};

}  // namespace velk
