// Typed array of reals (kind 105): doubles compared exactly, with the sums and spreads of a column.
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayScalar.h"
#include "containers/VValueInfo_array.h"

namespace velk {

class VELK_API VArrayReal : public VArrayScalar<VArrayReal, double>
{
public:
	static constexpr ValueKind kKIND = VK_ARRAY_REAL;
	static constexpr ValueKind kELEMENT_KIND = VK_REAL;
	static constexpr bool kRAW_SORT = true;

	// count zeroed elements; the array stays empty when the block cannot be had.
	explicit VArrayReal(int32 count = 0) : VArrayScalar(count) {}

	// 0.0 outside 1..count.
	double GetReal(int32 pos) const { return _Get(pos); }
	// Nothing outside 1..count.
	void FromReal(double value, int32 pos) override { _Set(value, pos); }
	// Bisection in an array sorted ascending: the 1-based position of an element equal to value, or -1.
	int32 QuickFind(double value) const { return _QuickFind(value); }

	// Each gives 0.0 for an empty array.
	double GetSum() const;
	// The sum divided by the count.
	double GetAverage() const;
	// The sum of the squared differences from the average.
	double GetSquareSum() const;
	// The square sum divided by the count: the variance, no square root is taken.
	double GetStdDev() const;

	static const VValueInfo_array<VArrayReal, VK_ARRAY_REAL> sInfo;

private:
	friend VArrayScalar;
	static double _FromValue(const VValueSingle& value) { return value.GetReal(); }
	static void _IntoValue(double element, VValueSingle& out) { out.FromReal(element); }
	// Null when memory is short.
	static VValueSingle* _NewValue(double element);
};

}  // namespace velk
