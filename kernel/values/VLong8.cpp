// The 64-bit signed integer value: what differs from the shared integer body.
#include "kernel/values/VLong8.h"

#include "kernel/strings/VString.h"

namespace velk {

void VLong8::FromString(const VString& text)
{
	if (text.IsNull())
	{
		SetNull(true);
		fFlags |= kFLAG_DIRTY;
		return;
	}
	_SetFrom(text);
}

}  // namespace velk
