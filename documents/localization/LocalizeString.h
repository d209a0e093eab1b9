// The process's localized text of a key, for code that has no localizer of its own at hand.
#pragma once

#include "kernel/VExport.h"

#include "kernel/strings/VString.h"

namespace velk {

// Through the localizer the process holds (VProcess::GetLocalizer). Not found, or no localizer: the default
// text (read in the system encoding), or an empty string without one.
VELK_API VString LocalizeString(const VString& key, const char* defaultText);

}  // namespace velk
