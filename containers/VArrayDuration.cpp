// Typed array of durations: milliseconds to and from duration values.
#include "containers/VArrayDuration.h"

#include <new>

#include "kernel/values/VDuration.h"

namespace velk {

const VValueInfo_array<VArrayDuration, VK_ARRAY_DURATION> VArrayDuration::sInfo;

void VArrayDuration::GetDuration(VDuration& out, int32 pos) const
{
	out.FromNbMilliseconds(_Get(pos));
}

void VArrayDuration::FromDuration(const VDuration& duration, int32 pos)
{
	_Set(duration.GetLong8OrMilliSeconds(), pos);
}

int64 VArrayDuration::_FromValue(const VValueSingle& value)
{
	VDuration duration;
	value.GetDuration(duration);
	return duration.GetLong8OrMilliSeconds();
}

void VArrayDuration::_IntoValue(int64 element, VValueSingle& out)
{
	out.FromDuration(VDuration(element));
}

VValueSingle* VArrayDuration::_NewValue(int64 element)
{
	return new (std::nothrow) VDuration(element);
}

}  // namespace velk
