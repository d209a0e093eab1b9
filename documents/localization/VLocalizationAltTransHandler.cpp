#include "documents/localization/VLocalizationAltTransHandler.h"

#include <new>

#include "containers/VValueBag.h"

namespace velk {

VLocalizationAltTransHandler::VLocalizationAltTransHandler(const std::vector<VString>& groupNames, VValueBag* unitBag)
	: fGroupNames(groupNames)
{
	if (unitBag != nullptr)
	{
		unitBag->Retain();
		fUnitBag = unitBag;
		fBag = new (std::nothrow) VValueBag();
	}
}

VLocalizationAltTransHandler::~VLocalizationAltTransHandler()
{
	if (fBag != nullptr)
		fBag->Release();
	if (fUnitBag != nullptr)
		fUnitBag->Release();
}

IXMLHandler* VLocalizationAltTransHandler::StartElement(const VString& name)
{
	fUnit.fChildName = name;
	if (VLocalizationUnitText::IsTextElement(name))
	{
		Retain();
		return this;
	}
	return nullptr;
}

void VLocalizationAltTransHandler::EndElement(const VString& name)
{
	if (VLocalizationUnitText::IsTextElement(name))
	{
		fUnit.fChildName.Clear();
		return;
	}
	if (fUnit.fExcluded || fBag == nullptr)
		return;
	fBag->SetString("target", fUnit.GetValue());
	fUnitBag->AddElement("alt-trans", fBag);
}

void VLocalizationAltTransHandler::SetAttribute(const VString& name, const VString& value)
{
	fUnit.SetAttribute(fBag, name, value);
}

void VLocalizationAltTransHandler::SetText(const VString& text)
{
	fUnit.SetText(text);
}

}  // namespace velk
