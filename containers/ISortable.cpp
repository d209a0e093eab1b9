// Sorting several columns together by several criteria.
#include "containers/ISortable.h"

#include "containers/VQuickSort.h"
#include "kernel/memory/VMemory.h"
#include "runtime/VError.h"

namespace velk {

namespace {

constexpr OsType kSORT_TAG = FourCharCode("sort");

}  // namespace

bool ISortable::MultiCriteriaQSort(ISortable* const* sortables, const uint8* descending, int32 criteria, int32 from, int32 to)
{
	if (sortables == nullptr || sortables[0] == nullptr || from < 0 || to <= from)
		return true;
	int32 columns = 0;
	while (sortables[columns] != nullptr)
		++columns;
	if (criteria > columns)
		criteria = columns;

	void** data = static_cast<void**>(VMemory::NewPtr(sizeof(void*) * size_t(columns), int32(kSORT_TAG)));
	if (data == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	for (int32 k = 0; k < columns; ++k)
		data[k] = sortables[k]->LockAndGetData();

	auto compare = [&](int32 i, int32 j) {
		for (int32 k = 0; k < criteria; ++k)
		{
			const int32 result = sortables[k]->CompareElements(data[k], i, j);
			if (result != 0)
				return descending != nullptr && descending[k] != 0 ? -result : result;
		}
		return int32(0);
	};
	auto swap = [&](int32 i, int32 j) {
		for (int32 k = 0; k < columns; ++k)
			sortables[k]->SwapElements(data[k], i, j);
	};
	QuickSortBySwaps(from, to, compare, swap);

	for (int32 k = 0; k < columns; ++k)
		sortables[k]->UnlockData();
	VMemory::DisposePtr(data);
	return true;
}

}  // namespace velk
