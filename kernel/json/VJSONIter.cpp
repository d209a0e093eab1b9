#include "kernel/json/VJSONIter.h"

#include <algorithm>
#include <new>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONPropertyIterator.h"
#include "kernel/json/VStorageLocker.h"

namespace velk {

VJSONIter::VJSONIter(VJSONObject* object, int32 start, int32 end, bool flag) : fContainer(object)
{
	if (object == nullptr)
		return;
	fImplementation = object->GetImplementation();
	if (fImplementation != nullptr)
	{
		fIterator = fImplementation->IJSON_MakeIterator(object, size_t(start), size_t(end), flag);
		if (fIterator != nullptr)
			return;
	}
	try
	{
		for (VJSONPropertyConstOrderedIterator names(object, 0); names.IsValid(); names.Next())
			fNames.push_back(names.GetName());
	}
	catch (const std::bad_alloc&)
	{
		fNames.clear();
		_ThrowError(VE_MEMORY_FULL);
	}
}

VJSONIter::VJSONIter(VJSONArray* array, int32 start, int32 end, bool toEnd) : fContainer(array)
{
	if (array == nullptr)
		return;
	const int64 count = int64(array->GetCount());
	const int64 first = start < 0 ? start + count : start;
	const int64 last = toEnd ? count : (end < 0 ? end + count : end);
	fCurrent = int32(std::clamp<int64>(first, 0, count));
	fEnd = int32(std::clamp<int64>(last, 0, count));
}

VJSONIter::~VJSONIter()
{
	if (fIterator != nullptr)
		fIterator->Release();
}

bool VJSONIter::NextValue(VJSONValue& out)
{
	out.SetUndefined();
	if (const VJSONArray* array = fContainer.GetArray())
	{
		VJSONUser user(array->GetStorageLocker(), false);
		if (fCurrent >= fEnd || !array->GetAt(size_t(fCurrent), out))
		{
			out.SetUndefined();
			return false;
		}
		++fCurrent;
		return true;
	}
	if (fIterator != nullptr)
		return fIterator->NextValue(out);
	if (fNameCursor >= fNames.size())
		return false;
	out.SetString(fNames[fNameCursor++]);
	return true;
}

}  // namespace velk
