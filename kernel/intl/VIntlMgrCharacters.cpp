// The character classes, word scanner and word searches of the international manager.
#include "kernel/intl/VIntlMgr.h"

namespace velk {

bool VIntlMgr::IsSpace(UniChar inChar, bool /*inFlag*/) const
{
	return inChar == 0x0020 || inChar == 0x00A0 || (inChar >= 0x2000 && inChar <= 0x200B) || inChar == 0x3000;
}

}  // namespace velk
