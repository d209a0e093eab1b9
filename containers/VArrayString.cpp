// Typed array of strings: one owned string pointer per element.
#include "containers/VArrayString.h"

#include <cstring>

#include "kernel/strings/VString.h"

namespace velk {

const VValueInfo_array<VArrayString, VK_ARRAY_STRING> VArrayString::sInfo;

VArrayString::VArrayString(int32 count)
	: VArrayValue(uint32(sizeof(VString*)), count)
{
}

VArrayString::~VArrayString()
{
	DeleteElements(0, fCount);
}

VString* VArrayString::_GetElement(int32 pos) const
{
	VString* element = nullptr;
	std::memcpy(&element, _ElementAt(pos - 1), sizeof(element));
	return element;
}

void VArrayString::FromString(const VString& text, int32 pos)
{
	if (!_IsValidPos(pos))
		return;
	if (VString* element = _GetElement(pos))
	{
		element->FromString(text);
		return;
	}
	VString* element = VString::NewString(0);
	if (element == nullptr)
		return;
	element->FromString(text);
	std::memcpy(_ElementAt(pos - 1), &element, sizeof(element));
}

void VArrayString::GetString(VString& out, int32 pos) const
{
	if (!_IsValidPos(pos))
	{
		out.Clear();
		return;
	}
	if (const VString* element = _GetElement(pos))
		out.FromString(*element);
	else
		out.SetNull(true);
}

void VArrayString::GetValue(VValueSingle& out, int32 pos) const
{
	if (!_IsValidPos(pos))
	{
		out.Clear();
		return;
	}
	if (const VString* element = _GetElement(pos))
	{
		out.FromString(*element);
		return;
	}
	const VString none(true);
	out.FromString(none);
}

void VArrayString::DeleteElements(int32 from, int32 n)
{
	if (from < 0 || n < 1 || n > fCount - from)
		return;
	for (int32 i = from; i < from + n; ++i)
	{
		VString* element = nullptr;
		std::memcpy(&element, _ElementAt(i), sizeof(element));
		delete element;
		std::memset(_ElementAt(i), 0, sizeof(element));
	}
}

}  // namespace velk
