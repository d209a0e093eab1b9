// The value of no content.
#include "kernel/values/VEmpty.h"

namespace velk {

const VValueInfo* VEmpty::GetValueInfo() const
{
	return &sInfo;
}

VValue* VEmpty::Clone() const
{
	return new VEmpty();
}

CompareResult VEmpty::CompareTo(const VValueSingle&, bool) const
{
	return CR_UNRELEVANT;
}

}  // namespace velk
