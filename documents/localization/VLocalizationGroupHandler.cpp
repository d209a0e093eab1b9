#include "documents/localization/VLocalizationGroupHandler.h"

#include <new>

#include "containers/VValueBag.h"
#include "documents/localization/VLocalizationManager.h"
#include "documents/localization/VLocalizationTransUnitHandler.h"

namespace velk {

VLocalizationGroupHandler::VLocalizationGroupHandler(bool override, VLocalizationManager* manager)
	: fManager(manager), fOverride(override), fGroupNames(1)
{
}

VLocalizationGroupHandler::~VLocalizationGroupHandler()
{
	if (fGroupBag != nullptr)
		fGroupBag->Release();
}

IXMLHandler* VLocalizationGroupHandler::StartElement(const VString& name)
{
	if (name.EqualToUSASCIICString("trans-unit"))
	{
		VValueBag* bag = fResType.IsEmpty() ? nullptr : fGroupBag;
		return new (std::nothrow) VLocalizationTransUnitHandler(fGroupID, fGroupNames, bag, fOverride, fManager);
	}
	if (name.EqualToUSASCIICString("group"))
	{
		fGroupNames.emplace_back();
		Retain();
		return this;
	}
	return nullptr;
}

void VLocalizationGroupHandler::EndElement(const VString& name)
{
	(void)name;
	if (fGroupBag != nullptr)
	{
		const VString& groupName = fGroupNames.empty() ? VString::sEmpty : fGroupNames.back();
		if (!groupName.IsEmpty())
		{
			fGroupBag->SetString("resname", groupName);
			fManager->_InsertGroupBag(groupName, fResType, fGroupBag);
		}
		fGroupBag->Release();
		fGroupBag = nullptr;
	}
	fResType.Clear();
	if (!fGroupNames.empty())
		fGroupNames.pop_back();
}

void VLocalizationGroupHandler::SetAttribute(const VString& name, const VString& value)
{
	if (fGroupBag == nullptr)
		fGroupBag = new (std::nothrow) VValueBag();
	if (name.EqualToUSASCIICString("id"))
	{
		const int32 id = value.GetLong();
		if (id != 0)
			fGroupID = uint32(id);
	}
	else if (name.EqualToUSASCIICString("resname"))
	{
		if (!value.IsEmpty() && !fGroupNames.empty())
			fGroupNames.back() = value;
	}
	else if (name.EqualToUSASCIICString("restype"))
	{
		fResType = value;
	}
	if (fGroupBag != nullptr)
		fGroupBag->SetString(name, value);
}

void VLocalizationGroupHandler::SetText(const VString& text)
{
	(void)text;
}

}  // namespace velk
