// Ordering and matching runs of UTF-16 units.
#include "kernel/strings/VStringOrder.h"

#include <algorithm>
#include <cstring>

#include "kernel/intl/VIntlMgr.h"

namespace velk {

VStringOrder::FlatText VStringOrder::ReadFlat(const void* data)
{
	int32 length;
	std::memcpy(&length, data, sizeof(length));
	return FlatText{reinterpret_cast<const UniChar*>(static_cast<const uint8*>(data) + sizeof(length)), std::max(length, 0)};
}

CompareResult VStringOrder::RawOrder(const UniChar* a, int32 aLength, const UniChar* b, int32 bLength)
{
	const int32 common = std::min(aLength, bLength);
	for (int32 i = 0; i < common; ++i)
	{
		if (a[i] != b[i])
			return a[i] < b[i] ? CR_SMALLER : CR_BIGGER;
	}
	if (aLength == bLength)
		return CR_EQUAL;
	return aLength < bLength ? CR_SMALLER : CR_BIGGER;
}

CompareResult VStringOrder::Order(const VIntlMgr* intl, const UniChar* a, int32 aLength, const UniChar* b, int32 bLength, bool like, bool diacritics)
{
	if (intl == nullptr)
		return RawOrder(a, aLength, b, bLength);
	return like ? intl->CompareString_Like(a, aLength, b, bLength, diacritics) : intl->CompareString(a, aLength, b, bLength, diacritics);
}

bool VStringOrder::Equal(const VIntlMgr* intl, const UniChar* a, int32 aLength, const UniChar* b, int32 bLength, bool like, bool diacritics)
{
	if (intl == nullptr)
		return aLength == bLength && RawOrder(a, aLength, b, bLength) == CR_EQUAL;
	return like ? intl->EqualString_Like(a, aLength, b, bLength, diacritics) : intl->EqualString(a, aLength, b, bLength, diacritics);
}

}  // namespace velk
