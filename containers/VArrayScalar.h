// The shared body of the typed arrays whose elements are plain numbers in the block (bytes, words, longs,
// long8s, reals, time stamps, durations): typed access, search, extremes, sorting on the raw block and the
// stream form. DERIVED is the concrete kind: it gives its kind numbers, whether it sorts on the raw block,
// and how an element converts from and into a value.
#pragma once

#include "kernel/VExport.h"

#include <limits>
#include <type_traits>

#include "containers/VArrayValue.h"
#include "containers/VQuickSort.h"
#include "kernel/values/VStream.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

template <class DERIVED, class T>
class VELK_API VArrayScalar : public VArrayValue
{
	static_assert(std::is_arithmetic_v<T> && sizeof(T) <= 8, "a plain number");

public:
	using Element = T;

	const VValueInfo* GetValueInfo() const override { return &DERIVED::sInfo; }
	ValueKind GetValueKind() const override { return DERIVED::kKIND; }
	ValueKind GetElemValueKind() const override { return DERIVED::kELEMENT_KIND; }

	void GetValue(VValueSingle& out, int32 pos) const override
	{
		if (!_IsValidPos(pos))
		{
			out.Clear();
			return;
		}
		DERIVED::_IntoValue(_Data()[pos - 1], out);
	}
	VValueSingle* CloneValue(int32 pos) const override { return DERIVED::_NewValue(_Get(pos)); }
	void FromValue(const VValueSingle& value, int32 pos) override { _Set(DERIVED::_FromValue(value), pos); }
	CompareResult CompareTo(const VValueSingle& value, bool, int32 pos) const override
	{
		return _Compare(_Get(pos), DERIVED::_FromValue(value));
	}

	// Elements compare exactly with value (numbers as their type: time stamps unsigned).
	int32 Find(T value, int32 start, bool forward, CompareMethod method) const
	{
		const T* data = _Data();
		return _FindBy(start, forward, method, [&](int32 pos) { return _Satisfies(_Compare(data[pos - 1], value), method); });
	}
	int32 Find(const VValueSingle& value, int32 start, bool forward, CompareMethod method) const override
	{
		return Find(DERIVED::_FromValue(value), start, forward, method);
	}

	void Sort(int32 from, int32 to, bool descending) override
	{
		if (!_IsSortRange(from, to))
			return;
		if constexpr (DERIVED::kRAW_SORT)
		{
			if (descending)
				QSort<true>(_Data(), from - 1, to - 1);
			else
				QSort<false>(_Data(), from - 1, to - 1);
		}
		else
		{
			ISortable* const sortables[] = {this, nullptr};
			const uint8 direction = descending ? 1 : 0;
			MultiCriteriaQSort(sortables, &direction, 1, from - 1, to - 1);
		}
	}

	void SwapElements(void* data, int32 i, int32 j) override
	{
		T* elements = static_cast<T*>(data);
		const T kept = elements[i];
		elements[i] = elements[j];
		elements[j] = kept;
	}
	int32 CompareElements(void* data, int32 i, int32 j) override
	{
		const T* elements = static_cast<const T*>(data);
		return _Compare(elements[i], elements[j]);
	}

protected:
	// count zeroed elements; the array stays empty when the block cannot be had.
	explicit VArrayScalar(int32 count) : VArrayValue(uint32(sizeof(T)), count) {}

	T* _Data() const { return static_cast<T*>(fData); }
	// 0 outside 1..count.
	T _Get(int32 pos) const { return _IsValidPos(pos) ? _Data()[pos - 1] : T(0); }
	// Nothing outside 1..count.
	void _Set(T value, int32 pos)
	{
		if (_IsValidPos(pos))
			_Data()[pos - 1] = value;
	}

	// The largest element; the type's smallest value for an empty array. Written so that it vectorises.
	T _GetMax() const
	{
		const T* data = _Data();
		T best = std::numeric_limits<T>::lowest();
		for (int32 i = 0; i < fCount; ++i)
			best = data[i] > best ? data[i] : best;
		return best;
	}
	// The smallest element; the type's largest value for an empty array.
	T _GetMin() const
	{
		const T* data = _Data();
		T best = std::numeric_limits<T>::max();
		for (int32 i = 0; i < fCount; ++i)
			best = data[i] < best ? data[i] : best;
		return best;
	}
	// Bisection in an array sorted ascending: the 1-based position of an element equal to value, or -1.
	// Each step halves the range without a branch, so that a mispredicted comparison costs nothing; the
	// first element not below value is then the only candidate.
	int32 _QuickFind(T value) const
	{
		if (fCount == 0)
			return -1;
		const T* data = _Data();
		const T* base = data;
		int32 n = fCount;
		while (n > 1)
		{
			const int32 half = n / 2;
			base = base[half - 1] < value ? base + half : base;
			n -= half;
		}
		if (*base < value)
			++base;
		if (base == data + fCount || !(*base == value))
			return -1;
		return int32(base - data) + 1;
	}

	static CompareResult _Compare(T a, T b)
	{
		if (a < b)
			return CR_SMALLER;
		if (b < a)
			return CR_BIGGER;
		// Reals that do not compare (NaN) are not equal either.
		return a == b ? CR_EQUAL : CR_UNRELEVANT;
	}

	VError _ReadElements(VStream* stream) override
	{
		int32 count = fCount;
		if (count == 0)
			return stream->GetLastError();
		if constexpr (sizeof(T) == 1)
			stream->GetData(fData, size_t(count));
		else if constexpr (std::is_floating_point_v<T>)
			stream->GetReals(_Data(), &count);
		else if constexpr (sizeof(T) == 2)
			stream->GetWords(reinterpret_cast<int16*>(fData), &count);
		else if constexpr (sizeof(T) == 4)
			stream->GetLongs(reinterpret_cast<int32*>(fData), &count);
		else
			stream->GetLong8s(reinterpret_cast<int64*>(fData), &count);
		return stream->GetLastError();
	}
	void _WriteElements(VStream* stream) const override
	{
		if (fCount == 0)
			return;
		if constexpr (sizeof(T) == 1)
			stream->PutData(fData, size_t(fCount));
		else if constexpr (std::is_floating_point_v<T>)
			stream->PutReals(_Data(), fCount);
		else if constexpr (sizeof(T) == 2)
			stream->PutWords(reinterpret_cast<const int16*>(fData), fCount);
		else if constexpr (sizeof(T) == 4)
			stream->PutLongs(reinterpret_cast<const int32*>(fData), fCount);
		else
			stream->PutLong8s(reinterpret_cast<const int64*>(fData), fCount);
	}
};

}  // namespace velk
