// The 16-bit signed integer value: what differs from the shared integer body.
#include "kernel/values/VWord.h"

#include "kernel/strings/VString.h"

namespace velk {

void VWord::FromString(const VString& text)
{
	_Store(int16(text.GetLong()), text.IsNull());
}

}  // namespace velk
