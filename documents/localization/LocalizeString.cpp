#include "documents/localization/LocalizeString.h"

#include "runtime/ILocalizer.h"
#include "runtime/VProcess.h"

namespace velk {

VString LocalizeString(const VString& key, const char* defaultText)
{
	VString text;
	ILocalizer* localizer = (VProcess::sInstance != nullptr) ? VProcess::sInstance->GetLocalizer() : nullptr;
	const bool found = localizer != nullptr && localizer->LocalizeStringWithKey(key, text);
	if (!found && defaultText != nullptr)
		text.FromCString(defaultText);
	return text;
}

}  // namespace velk
