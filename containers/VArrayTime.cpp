// Typed array of times: stamps to and from time values.
#include "containers/VArrayTime.h"

#include <new>

#include "kernel/values/VTime.h"

namespace velk {

const VValueInfo_array<VArrayTime, VK_ARRAY_TIME> VArrayTime::sInfo;

void VArrayTime::GetTime(VTime& out, int32 pos) const
{
	if (!_IsValidPos(pos))
	{
		out.Clear();
		return;
	}
	out.FromStamp(_Get(pos));
}

void VArrayTime::FromTime(const VTime& time, int32 pos)
{
	_Set(time.GetStamp(), pos);
}

uint64 VArrayTime::_FromValue(const VValueSingle& value)
{
	VTime time;
	value.GetTime(time);
	return time.GetStamp();
}

void VArrayTime::_IntoValue(uint64 element, VValueSingle& out)
{
	out.FromTime(VTime(element));
}

VValueSingle* VArrayTime::_NewValue(uint64 element)
{
	return new (std::nothrow) VTime(element);
}

}  // namespace velk
