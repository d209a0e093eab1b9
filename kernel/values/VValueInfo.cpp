// Descriptor of one value kind: registration and the comparison defaults.
#include "kernel/values/VValueInfo.h"

namespace velk {

VValueInfo::VValueInfo(ValueKind kind) : VValueInfo(kind, kind) {}

VValueInfo::VValueInfo(ValueKind kind, ValueKind registryKind) : fKind(kind), fRegistryKind(registryKind)
{
	VValue::RegisterValueInfo(this);
}

VValueInfo::~VValueInfo()
{
	VValue::UnregisterValueInfo(this);
}

CompareResult VValueInfo::CompareTwoPtrToData(const void*, const void*, bool) const
{
	return CR_EQUAL;
}

CompareResult VValueInfo::CompareTwoPtrToDataBegining(const void*, const void*, bool) const
{
	return CR_EQUAL;
}

CompareResult VValueInfo::CompareTwoPtrToData_Like(const void* data1, const void* data2, bool diacritical) const
{
	return CompareTwoPtrToData(data1, data2, diacritical);
}

CompareResult VValueInfo::CompareTwoPtrToDataBegining_Like(const void* data1, const void* data2, bool diacritical) const
{
	return CompareTwoPtrToDataBegining(data1, data2, diacritical);
}

CompareResult VValueInfo::CompareTwoPtrToDataWithOptions(const void*, const void*, const VCompareOptions&) const
{
	return CR_EQUAL;
}

uint64 VValueInfo::GetSizeOfValueDataPtr(const void*) const
{
	return 0;
}

uint64 VValueInfo::GetAvgSpace() const
{
	return 0;
}

}  // namespace velk
