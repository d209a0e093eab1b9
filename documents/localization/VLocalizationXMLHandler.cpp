#include "documents/localization/VLocalizationXMLHandler.h"

#include <new>

#include "documents/localization/VLocalizationGroupHandler.h"
#include "documents/localization/VLocalizationManager.h"
#include "documents/localization/VLocalizationTransUnitHandler.h"
#include "kernel/intl/VIntlMgr.h"

namespace velk {

VLocalizationXMLHandler::VLocalizationXMLHandler(VLocalizationManager* manager) : fManager(manager)
{
}

IXMLHandler* VLocalizationXMLHandler::StartElement(const VString& name)
{
	if (name.EqualToUSASCIICString("file"))
		fElementName = name;
	else
		fElementName.Clear();

	IXMLHandler* handler = nullptr;
	if (fAccept || fForced)
	{
		if (name.EqualToUSASCIICString("group"))
			handler = new (std::nothrow) VLocalizationGroupHandler(fOverride, fManager);
		else if (name.EqualToUSASCIICString("trans-unit"))
			handler = new (std::nothrow) VLocalizationTransUnitHandler(0, {}, nullptr, fOverride, fManager);
	}
	if (handler == nullptr)
	{
		Retain();
		handler = this;
	}
	return handler;
}

void VLocalizationXMLHandler::SetAttribute(const VString& name, const VString& value)
{
	if (!fElementName.EqualToUSASCIICString("file") || !name.EqualToUSASCIICString("target-language"))
		return;
	VString ownCode;
	if (!VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(fManager->GetLocalizationLanguage(), ownCode, '-'))
		return;
	const int32 score = VIntlMgr::Compare2RFC3066LanguageCodes(ownCode, value);
	if (score == 4)
	{
		fAccept = true;
		fOverride = true;
	}
	else if (score >= 1 && score <= 3)
	{
		fAccept = true;
		fOverride = false;
	}
	else
	{
		fAccept = false;
	}
}

void VLocalizationXMLHandler::SetText(const VString& text)
{
	(void)text;
}

}  // namespace velk
