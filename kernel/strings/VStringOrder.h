// How two runs of UTF-16 units order and match: through an international manager when there is one, unit
// by unit otherwise; and how the flat form of a string is read for it. Internal to the library.
#pragma once

#include "kernel/VKernelTypes.h"
#include "kernel/values/VValue.h"

namespace velk {

class VIntlMgr;

class VStringOrder
{
public:
	// The flat form of a string: int32 length, then the units.
	struct FlatText
	{
		const UniChar* fUnits;
		int32 fLength;
	};

	// A negative stored length reads as 0.
	static FlatText ReadFlat(const void* data);

	static CompareResult RawOrder(const UniChar* a, int32 aLength, const UniChar* b, int32 bLength);

	// Without a manager (before start-up, after shut-down) texts compare unit by unit and wild chars are
	// ordinary characters.
	static CompareResult Order(const VIntlMgr* intl, const UniChar* a, int32 aLength, const UniChar* b, int32 bLength, bool like, bool diacritics);
	static bool Equal(const VIntlMgr* intl, const UniChar* a, int32 aLength, const UniChar* b, int32 bLength, bool like, bool diacritics);
};

}  // namespace velk
