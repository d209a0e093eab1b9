#include "documents/localization/VLocalizationAltTransHandler.h"

#include <new>

#include "containers/VValueBag.h"
#include "documents/localization/VLocalizationTransUnitHandler.h"

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
	fChildName = name;
	if (name.EqualToUSASCIICString("source") || name.EqualToUSASCIICString("target"))
	{
		Retain();
		return this;
	}
	return nullptr;
}

void VLocalizationAltTransHandler::EndElement(const VString& name)
{
	if (name.EqualToUSASCIICString("source") || name.EqualToUSASCIICString("target"))
	{
		fChildName.Clear();
		return;
	}
	if (fExcluded || fBag == nullptr)
		return;
	fBag->SetString("target", fHasTarget ? fTarget : (fHasSource ? fSource : VString::sEmpty));
	fUnitBag->AddElement("alt-trans", fBag);
}

void VLocalizationAltTransHandler::SetAttribute(const VString& name, const VString& value)
{
	if (fBag != nullptr)
		fBag->SetString(name, value);
	if (name.EqualToUSASCIICString("id"))
	{
		const int32 id = value.GetLong();
		if (id > 0)
			fUnitID = id;
	}
	else if (name.EqualToUSASCIICString("resname"))
	{
		fResName = value;
	}
	else if (name.EqualToUSASCIICString("yr:excludeIf"))
	{
		VLocalizationTransUnitHandler::CheckPlatformTag(value, false, fExcluded);
	}
	else if (name.EqualToUSASCIICString("yr:includeIf"))
	{
		VLocalizationTransUnitHandler::CheckPlatformTag(value, true, fExcluded);
	}
}

void VLocalizationAltTransHandler::SetText(const VString& text)
{
	if (fChildName.EqualToUSASCIICString("source"))
	{
		fSource.AppendUniChars(text.GetCPointer(), text.GetLength());
		fHasSource = true;
	}
	else if (fChildName.EqualToUSASCIICString("target"))
	{
		fTarget.AppendUniChars(text.GetCPointer(), text.GetLength());
		fHasTarget = true;
	}
}

}  // namespace velk
