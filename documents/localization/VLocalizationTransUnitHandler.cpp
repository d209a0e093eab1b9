#include "documents/localization/VLocalizationTransUnitHandler.h"

#include <new>

#include "containers/VValueBag.h"
#include "documents/localization/VLocalizationAltTransHandler.h"
#include "documents/localization/VLocalizationManager.h"

namespace velk {

namespace {

// Sits between the names of a composite key; no resource name holds it.
const VString kCompositeKeySeparator("#}[{@");

}  // namespace

VLocalizationTransUnitHandler::VLocalizationTransUnitHandler(uint32 groupID, const std::vector<VString>& groupNames,
	VValueBag* groupBag, bool override, VLocalizationManager* manager)
	: fManager(manager), fGroupID(groupID), fOverride(override), fGroupNames(groupNames)
{
	if (groupBag != nullptr)
	{
		groupBag->Retain();
		fGroupBag = groupBag;
		fBag = new (std::nothrow) VValueBag();
	}
}

VLocalizationTransUnitHandler::~VLocalizationTransUnitHandler()
{
	if (fBag != nullptr)
		fBag->Release();
	if (fGroupBag != nullptr)
		fGroupBag->Release();
}

IXMLHandler* VLocalizationTransUnitHandler::StartElement(const VString& name)
{
	fUnit.fChildName = name;
	if (VLocalizationUnitText::IsTextElement(name))
	{
		Retain();
		return this;
	}
	if (name.EqualToUSASCIICString("alt-trans"))
		return new (std::nothrow) VLocalizationAltTransHandler(fGroupNames, fBag);
	return nullptr;
}

void VLocalizationTransUnitHandler::EndElement(const VString& name)
{
	// Decided by the element that ends rather than by the last child seen: an inline element inside the
	// source (<g>, <x/>) must not end the unit early.
	if (VLocalizationUnitText::IsTextElement(name))
		fUnit.fChildName.Clear();
	else
		_EndUnit();
}

void VLocalizationTransUnitHandler::SetAttribute(const VString& name, const VString& value)
{
	fUnit.SetAttribute(fBag, name, value);
}

void VLocalizationTransUnitHandler::SetText(const VString& text)
{
	fUnit.SetText(text);
}

void VLocalizationTransUnitHandler::CheckPlatformTag(const VString& value, bool isInclude, bool& excluded)
{
	// The files are written for this program as a macOS application, whatever it runs on.
	static const VString kThisPlatform("mac");
	static const VString kOtherPlatforms[] = {VString("win"), VString("linux")};

	std::vector<VString> pieces;
	value.GetSubStrings(u' ', pieces, false, true);
	bool namesThis = false;
	bool namesKnown = false;
	for (const VString& piece : pieces)
	{
		if (piece.EqualToString(kThisPlatform, false))
		{
			namesThis = true;
			namesKnown = true;
		}
		else if (piece.EqualToString(kOtherPlatforms[0], false) || piece.EqualToString(kOtherPlatforms[1], false))
		{
			namesKnown = true;
		}
	}
	if (!namesKnown)
		return;
	if (isInclude ? !namesThis : namesThis)
		excluded = true;
}

void VLocalizationTransUnitHandler::_EndUnit()
{
	if (fUnit.fExcluded)
		return;
	const VString& value = fUnit.GetValue();

	if (fBag != nullptr)
	{
		fBag->SetString("target", value);
		fGroupBag->AddElement("trans-unit", fBag);
	}
	if (fUnit.fUnitID != 0 && fGroupID != 0)
		fManager->_InsertSTRSharpCodeAndString(STRSharpCodes{int32(fGroupID), uint32(fUnit.fUnitID)}, value, fOverride);
	if (value.IsEmpty())
		return;

	const size_t count = fGroupNames.size();
	if (count >= 2 && !fUnit.fResName.IsEmpty())
	{
		const VString& inner = fGroupNames[count - 1];
		const VString& outer = fGroupNames[count - 2];
		if (!inner.IsEmpty() && !outer.IsEmpty() && outer.GetUniChar(1) == u'['
			&& outer.GetUniChar(outer.GetLength()) == u']')
		{
			VString key(outer);
			key.AppendUniChars(kCompositeKeySeparator.GetCPointer(), kCompositeKeySeparator.GetLength());
			key.AppendUniChars(inner.GetCPointer(), inner.GetLength());
			key.AppendUniChars(kCompositeKeySeparator.GetCPointer(), kCompositeKeySeparator.GetLength());
			key.AppendUniChars(fUnit.fResName.GetCPointer(), fUnit.fResName.GetLength());
			fManager->_InsertObjectURLAndString(key, value, fOverride);
			return;
		}
	}
	if (!fUnit.fResName.IsEmpty())
		fManager->_InsertObjectURLAndString(fUnit.fResName, value, fOverride);
	for (size_t i = count; i > 0; --i)
		fManager->_InsertIDAndStringInAGroup(uint32(fUnit.fUnitID), value, fGroupNames[i - 1], fOverride);
}

}  // namespace velk
