// Typed array of reals: its descriptor, element values and the sums of the column.
#include "containers/VArrayReal.h"

#include <new>

#include "kernel/values/VReal.h"

namespace velk {

const VValueInfo_array<VArrayReal, VK_ARRAY_REAL> VArrayReal::sInfo;

VValueSingle* VArrayReal::_NewValue(double element)
{
	return new (std::nothrow) VReal(element);
}

double VArrayReal::GetSum() const
{
	double sum = 0.0;
	for (int32 i = 0; i < fCount; ++i)
		sum += _Data()[i];
	return sum;
}

double VArrayReal::GetAverage() const
{
	return fCount == 0 ? 0.0 : GetSum() / fCount;
}

double VArrayReal::GetSquareSum() const
{
	if (fCount == 0)
		return 0.0;
	const double average = GetAverage();
	double sum = 0.0;
	for (int32 i = 0; i < fCount; ++i)
	{
		const double difference = _Data()[i] - average;
		sum += difference * difference;
	}
	return sum;
}

double VArrayReal::GetStdDev() const
{
	return fCount == 0 ? 0.0 : GetSquareSum() / fCount;
}

}  // namespace velk
