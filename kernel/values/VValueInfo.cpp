// Descriptor of one value kind: registration and the comparison defaults.
#include "kernel/values/VValueInfo.h"

#include <new>

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

VValue* VValueInfo::LoadFromPtrBounded(const void* data, uint64 available, bool flag) const
{
	VValue* value = nullptr;
	try
	{
		value = Generate();
	}
	catch (const std::bad_alloc&)
	{
		// Kinds make their values with the plain new: no exception may leave the toolbox.
	}
	if (value == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	if (value->LoadFromPtrBounded(data, available, uint8(flag)) == nullptr)
	{
		delete value;
		return nullptr;
	}
	return value;
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
