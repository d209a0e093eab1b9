// A source of localized texts, registered with the error objects per component signature so that
// errors describe themselves in the user's language.
#pragma once

#include "kernel/VExport.h"

#include "runtime/VError.h"

namespace velk {

class VString;

class VELK_API ILocalizer
{
public:
	virtual ~ILocalizer() = default;

	// Writes the message for code into text (its {name} placeholders still unfilled) and returns true;
	// false when this localizer has no message for the code.
	virtual bool LocalizeErrorMessage(VError code, VString& text) = 0;
};

}  // namespace velk
