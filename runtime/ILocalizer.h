// A source of localized texts, registered with the error objects per component signature so that
// errors describe themselves in the user's language.
#pragma once

#include "kernel/VExport.h"

#include "runtime/VError.h"

namespace velk {

class VString;
class VValueBag;

class VELK_API ILocalizer
{
public:
	virtual ~ILocalizer() = default;

	// The dialect (a Windows language code) of the texts this localizer gives.
	virtual uint32 GetLocalizationLanguage() = 0;
	// Writes the message for code into text (its {name} placeholders still unfilled) and returns true;
	// false when this localizer has no message for the code.
	virtual bool LocalizeErrorMessage(VError code, VString& text) = 0;
	// The text of key into text and true; false, text untouched, when the key is unknown.
	virtual bool LocalizeStringWithKey(const VString& key, VString& text) = 0;
	virtual bool LocalizeStringWithDotStringsKey(const VString& key, VString& text) = 0;
	// The bag of the named group, retained for the caller; null when there is none.
	virtual const VValueBag* RetainGroupBag(const VString& name) = 0;
};

}  // namespace velk
