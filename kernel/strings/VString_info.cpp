// The string kind's descriptor, and the string operations that belong to the kind rather than the text.
#include "kernel/strings/VString_info.h"

#include <algorithm>
#include <cstring>

#include "kernel/memory/VCppMemMgr.h"
#include "kernel/strings/VString.h"
#include "kernel/strings/VStringOrder.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

CompareResult OrderFlat(const void* data1, const void* data2, bool beginning, bool like, bool diacritical)
{
	const VStringOrder::FlatText a = VStringOrder::ReadFlat(data1);
	const VStringOrder::FlatText b = VStringOrder::ReadFlat(data2);
	const int32 aLength = beginning ? std::min(a.fLength, b.fLength) : a.fLength;
	return VStringOrder::Order(VTask::GetCurrentIntlManager(), a.fUnits, aLength, b.fUnits, b.fLength, like, diacritical);
}

}  // namespace

VString_info::VString_info() : VValueInfo(VK_STRING) {}

VValue* VString_info::Generate() const
{
	// VString's new answers null, with velk 107 raised, when memory is short.
	return new VString();
}

VValue* VString_info::Generate(VBlob*) const
{
	return Generate();
}

VValue* VString_info::LoadFromPtr(const void* data, bool flag) const
{
	VString* text = new VString();
	if (text != nullptr)
		text->LoadFromPtr(data, uint8(flag));
	return text;
}

void* VString_info::ByteSwapPtr(void* data, bool fromNative) const
{
	uint8* const bytes = static_cast<uint8*>(data);
	uint32 count;
	std::memcpy(&count, bytes, sizeof(count));
	const uint32 swapped = __builtin_bswap32(count);
	std::memcpy(bytes, &swapped, sizeof(swapped));
	if (!fromNative)
		count = swapped;
	uint8* unit = bytes + sizeof(count);
	for (uint32 i = 0; i < count; ++i, unit += sizeof(UniChar))
		std::swap(unit[0], unit[1]);
	return unit;
}

CompareResult VString_info::CompareTwoPtrToData(const void* data1, const void* data2, bool diacritical) const
{
	return OrderFlat(data1, data2, false, false, diacritical);
}

CompareResult VString_info::CompareTwoPtrToDataBegining(const void* data1, const void* data2, bool diacritical) const
{
	return OrderFlat(data1, data2, true, false, diacritical);
}

CompareResult VString_info::CompareTwoPtrToData_Like(const void* data1, const void* data2, bool diacritical) const
{
	return OrderFlat(data1, data2, false, true, diacritical);
}

CompareResult VString_info::CompareTwoPtrToDataBegining_Like(const void* data1, const void* data2, bool diacritical) const
{
	return OrderFlat(data1, data2, true, true, diacritical);
}

CompareResult VString_info::CompareTwoPtrToDataWithOptions(const void* data1, const void* data2, const VCompareOptions& options) const
{
	const VStringOrder::FlatText a = VStringOrder::ReadFlat(data1);
	const VStringOrder::FlatText b = VStringOrder::ReadFlat(data2);
	const int32 shorter = std::min(a.fLength, b.fLength);
	const bool beginning = options.IsBeginsWith();
	return VStringOrder::Order(options.GetIntlMgr(), a.fUnits, beginning ? shorter : a.fLength, b.fUnits, beginning ? shorter : b.fLength,
							   options.IsLike(), options.IsDiacritical());
}

uint64 VString_info::GetSizeOfValueDataPtr(const void* data) const
{
	uint32 count;
	std::memcpy(&count, data, sizeof(count));
	return sizeof(count) + uint64(count) * sizeof(UniChar);
}

uint64 VString_info::GetAvgSpace() const
{
	return 64;
}

// ---------------------------------------------------------------------------------------------------------
// The string as a value of the kind

const VValueInfo* VString::GetValueInfo() const
{
	return &sInfo;
}

bool VString::IsStringValid() const
{
	if (!_IsInline() && !IsExternal() && VObject::sCppMemMgr != nullptr && !VObject::sCppMemMgr->CheckPtr(fString))
		return false;
	return fLength == 0 || fString[fLength] == 0;
}

void VString::Compose()
{
	// Text is kept as it was given: no normal form is imposed on it.
}

void VString::Decompose()
{
}

}  // namespace velk
