// VString's exchange with the platform's string object.
#include "kernel/strings/mac/XMacPlatformString.h"

#include <algorithm>
#include <climits>

#include "runtime/VError.h"

namespace velk {

namespace {

// Scratch for a platform string without storage of its own: the most units read at once.
constexpr size_t kCHUNK_UNITS = 1024;

}  // namespace

VPlatformString* VString::MAC_RetainCFStringCopy() const
{
	return ToPlatformString(plat::SharedText::CreateWithUnits(GetCPointer(), size_t(GetLength())));
}

void VString::MAC_FromCFString(const VPlatformString* s)
{
	const plat::SharedText* text = ToSharedText(s);
	if (text == nullptr)
		return;
	const size_t length = text->GetLength();
	if (length > size_t(INT32_MAX - 1))
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return;
	}

	const UniChar* units = text->GetUnitsPointer();
	if (units != nullptr)
	{
		FromUniString(units, int32(length));
		return;
	}

	Clear();
	UniChar chunk[kCHUNK_UNITS];
	for (size_t at = 0; at < length;)
	{
		const size_t count = std::min(kCHUNK_UNITS, length - at);
		if (!text->GetUnits(at, count, chunk))
			break;
		const int32 before = GetLength();
		AppendUniChars(chunk, int32(count));
		// The string could not grow (velk 107 raised): it keeps the text read so far.
		if (GetLength() == before)
			break;
		at += count;
	}
}

}  // namespace velk
