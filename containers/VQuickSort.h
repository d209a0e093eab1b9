// The sorting routine shared by every array kind: selection sort under 10 elements, otherwise an
// iterative quicksort whose pending ranges fit a stack of 30 (the smaller part is always done first).
#pragma once

#include "kernel/VKernelTypes.h"

namespace velk {

// Orders the 0-based indexes from..to (inclusive) through callbacks on indexes: compare(i, j) is negative,
// 0 or positive as i belongs before, with or after j; swap(i, j) exchanges them. Used where elements can
// only be exchanged in place (several columns sorted together, packed bits).
template <class COMPARE, class SWAP>
void QuickSortBySwaps(int32 from, int32 to, COMPARE compare, SWAP swap)
{
	struct Range
	{
		int32 fLow;
		int32 fHigh;
	};
	Range pending[30];
	int32 depth = 0;
	int32 low = from;
	int32 high = to;
	for (;;)
	{
		if (high - low < 9)
		{
			// Selection: the element that belongs last among the unsorted front goes to its end.
			for (int32 end = high; end > low; --end)
			{
				int32 best = low;
				for (int32 k = low + 1; k <= end; ++k)
				{
					if (compare(k, best) > 0)
						best = k;
				}
				if (best != end)
					swap(best, end);
			}
			if (depth == 0)
				return;
			--depth;
			low = pending[depth].fLow;
			high = pending[depth].fHigh;
			continue;
		}

		// The middle element, moved to the front, splits the range; scans stop on equal elements so that
		// runs of duplicates split evenly.
		swap(low, low + (high - low + 1) / 2);
		int32 i = low;
		int32 j = high + 1;
		for (;;)
		{
			do
				++i;
			while (i <= high && compare(i, low) < 0);
			do
				--j;
			while (compare(low, j) < 0);
			if (i >= j)
				break;
			swap(i, j);
		}
		swap(low, j);

		if (j - low < high - j)
		{
			pending[depth++] = {j + 1, high};
			high = j - 1;
		}
		else
		{
			pending[depth++] = {low, j - 1};
			low = j + 1;
		}
	}
}

// The same over a block of plain numbers, compared with < (reals exactly, NaN never smaller), the pivot kept
// in hand so that no call is made per element.
template <bool DESCENDING, class T>
void QSort(T* data, int32 from, int32 to)
{
	auto before = [](const T& a, const T& b) { return DESCENDING ? b < a : a < b; };
	struct Range
	{
		int32 fLow;
		int32 fHigh;
	};
	Range pending[30];
	int32 depth = 0;
	int32 low = from;
	int32 high = to;
	for (;;)
	{
		if (high - low < 9)
		{
			for (int32 end = high; end > low; --end)
			{
				int32 best = low;
				for (int32 k = low + 1; k <= end; ++k)
				{
					if (before(data[best], data[k]))
						best = k;
				}
				if (best != end)
				{
					const T kept = data[best];
					data[best] = data[end];
					data[end] = kept;
				}
			}
			if (depth == 0)
				return;
			--depth;
			low = pending[depth].fLow;
			high = pending[depth].fHigh;
			continue;
		}

		const int32 middle = low + (high - low + 1) / 2;
		const T pivot = data[middle];
		data[middle] = data[low];
		data[low] = pivot;
		int32 i = low;
		int32 j = high + 1;
		for (;;)
		{
			do
				++i;
			while (i <= high && before(data[i], pivot));
			do
				--j;
			while (before(pivot, data[j]));
			if (i >= j)
				break;
			const T kept = data[i];
			data[i] = data[j];
			data[j] = kept;
		}
		data[low] = data[j];
		data[j] = pivot;

		if (j - low < high - j)
		{
			pending[depth++] = {j + 1, high};
			high = j - 1;
		}
		else
		{
			pending[depth++] = {low, j - 1};
			low = j + 1;
		}
	}
}

}  // namespace velk
