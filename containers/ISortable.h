// What a sortable column offers so that several columns can be ordered together: its data, and the
// comparison and exchange of two elements by 0-based index.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API ISortable
{
public:
	virtual ~ISortable() = default;

	// The data handed to CompareElements and SwapElements until UnlockData.
	virtual void* LockAndGetData() = 0;
	virtual void UnlockData() = 0;
	// Indexes are 0-based and must lie within the column.
	virtual void SwapElements(void* data, int32 i, int32 j) = 0;
	// -1, 0 or 1 as the element at i orders before, with or after the element at j (ascending).
	virtual int32 CompareElements(void* data, int32 i, int32 j) = 0;

	// Orders the 0-based indexes from..to (inclusive) of the null-terminated list of columns, which must
	// hold at least to + 1 elements each. The first criteria columns decide in turn (the first one whose
	// comparison is not 0), each in its direction (descending[k] true inverts criterion k); every exchange is
	// applied to all the columns, so rows stay aligned. Does nothing unless to > from. False, nothing
	// changed, when the scratch list of data cannot be had (velk 100 raised).
	static bool MultiCriteriaQSort(ISortable* const* sortables, const uint8* descending, int32 criteria, int32 from, int32 to);
};

}  // namespace velk
