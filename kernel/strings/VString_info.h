// Descriptor of the string kind: makes strings, reads their flat form (a uint32 unit count, then the units,
// no terminator), byte-swaps it and orders flat strings through the international manager.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VValueInfo.h"

namespace velk {

class VELK_API VString_info : public VValueInfo
{
public:
	VString_info();

	// A new empty, non-null string; the blob is not used. Null when memory is short (velk 107 raised).
	VValue* Generate() const override;
	VValue* Generate(VBlob* blob) const override;
	VValue* LoadFromPtr(const void* data, bool flag = false) const override;
	// Swaps the count and every unit in place: the count is read before the swap when fromNative is set,
	// after it otherwise. Answers the address just past the units.
	void* ByteSwapPtr(void* data, bool fromNative) const override;

	// Through the current task's international manager; the Begining forms cut the first text to the
	// second's length, so a first text that begins with the second is equal.
	CompareResult CompareTwoPtrToData(const void* data1, const void* data2, bool diacritical = false) const override;
	CompareResult CompareTwoPtrToDataBegining(const void* data1, const void* data2, bool diacritical = false) const override;
	CompareResult CompareTwoPtrToData_Like(const void* data1, const void* data2, bool diacritical = false) const override;
	CompareResult CompareTwoPtrToDataBegining_Like(const void* data1, const void* data2, bool diacritical = false) const override;
	// With the options' manager and diacritic flag; their beginning flag cuts both texts to the shorter.
	CompareResult CompareTwoPtrToDataWithOptions(const void* data1, const void* data2, const VCompareOptions& options) const override;

	// 4 + 2 x the unit count.
	uint64 GetSizeOfValueDataPtr(const void* data) const override;
	uint64 GetAvgSpace() const override;
};

}  // namespace velk
