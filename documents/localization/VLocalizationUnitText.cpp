#include "documents/localization/VLocalizationUnitText.h"

#include "containers/VValueBag.h"
#include "documents/localization/VLocalizationTransUnitHandler.h"

namespace velk {

bool VLocalizationUnitText::IsTextElement(const VString& name)
{
	return name.EqualToUSASCIICString("source") || name.EqualToUSASCIICString("target");
}

void VLocalizationUnitText::SetAttribute(VValueBag* bag, const VString& name, const VString& value)
{
	if (bag != nullptr)
		bag->SetString(name, value);
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

void VLocalizationUnitText::SetText(const VString& text)
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

const VString& VLocalizationUnitText::GetValue() const
{
	return fHasTarget ? fTarget : (fHasSource ? fSource : VString::sEmpty);
}

}  // namespace velk
