// Typed array of strings: one owned string pointer per element, null allowed.
#include "containers/VArrayString.h"

#include <cstring>

#include "kernel/strings/VString.h"
#include "kernel/values/VStream.h"

namespace velk {

const VValueInfo_array<VArrayString, VK_ARRAY_STRING> VArrayString::sInfo;

namespace {

constexpr int32 kSTRING_MARKER = 2;
constexpr int32 kNULL_MARKER = int32(FourCharCode("NULL"));

}  // namespace

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

void VArrayString::_SetElement(int32 pos, VString* element)
{
	std::memcpy(_ElementAt(pos - 1), &element, sizeof(element));
}

VString* VArrayString::_NewCopy(const VString& text)
{
	// A buffer of the text's length inside the object: the copy cannot fail once the object exists.
	VString* copy = VString::NewString(text.GetLength());
	if (copy != nullptr)
		copy->FromString(text);
	return copy;
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
	if (VString* element = _NewCopy(text))
		_SetElement(pos, element);
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

VValueSingle* VArrayString::CloneValue(int32 pos) const
{
	const VString* element = _IsValidPos(pos) ? _GetElement(pos) : nullptr;
	if (element != nullptr)
		return _NewCopy(*element);
	VString* none = VString::NewString(0);
	if (none != nullptr && _IsValidPos(pos))
		none->SetNull(true);
	return none;
}

void VArrayString::FromValue(const VValueSingle& value, int32 pos)
{
	if (!_IsValidPos(pos))
		return;
	if (value.IsNull())
	{
		DeleteElements(pos - 1, 1);
		return;
	}
	VString text;
	value.GetString(text);
	FromString(text, pos);
}

CompareResult VArrayString::CompareTo(const VValueSingle& value, bool diacritical, int32 pos) const
{
	const VString* element = _IsValidPos(pos) ? _GetElement(pos) : nullptr;
	if (element == nullptr || element->IsNull())
		return value.IsNull() ? CR_EQUAL : CR_SMALLER;
	VString text;
	value.GetString(text);
	return element->CompareToString(text, diacritical);
}

int32 VArrayString::Find(const VString& value, int32 start, bool forward, CompareMethod method) const
{
	return _FindBy(start, forward, method, [&](int32 pos) {
		const VString* element = _GetElement(pos);
		if (element == nullptr || element->IsNull())
			return false;
		if (method == CM_EQUAL)
			return element->EqualToString(value, false);
		return _Satisfies(element->CompareToString(value, false), method);
	});
}

int32 VArrayString::Find(const VValueSingle& value, int32 start, bool forward, CompareMethod method) const
{
	VString text;
	value.GetString(text);
	return Find(text, start, forward, method);
}

int32 VArrayString::_CompareStrings(const VString* a, const VString* b)
{
	const bool aNull = a == nullptr || a->IsNull();
	const bool bNull = b == nullptr || b->IsNull();
	if (aNull || bNull)
		return int32(bNull) - int32(aNull);
	return a->CompareToString(*b, true);
}

int32 VArrayString::QuickFind(const VString& value) const
{
	int32 low = 1;
	int32 high = fCount;
	while (low <= high)
	{
		const int32 middle = low + (high - low) / 2;
		const int32 order = _CompareStrings(_GetElement(middle), &value);
		if (order < 0)
			low = middle + 1;
		else if (order > 0)
			high = middle - 1;
		else
			return middle;
	}
	return -1;
}

void VArrayString::Sort(int32 from, int32 to, bool descending)
{
	if (!_IsSortRange(from, to))
		return;
	ISortable* const sortables[] = {this, nullptr};
	const uint8 direction = descending ? 1 : 0;
	MultiCriteriaQSort(sortables, &direction, 1, from - 1, to - 1);
}

int32 VArrayString::CompareElements(void*, int32 i, int32 j)
{
	return _CompareStrings(_GetElement(i + 1), _GetElement(j + 1));
}

void VArrayString::DeleteElements(int32 from, int32 n)
{
	if (from < 0 || n < 1 || n > fCount - from)
		return;
	for (int32 i = from; i < from + n; ++i)
	{
		delete _GetElement(i + 1);
		_SetElement(i + 1, nullptr);
	}
}

bool VArrayString::_CopyElementsFrom(const VArrayValue& other)
{
	const VArrayString& source = static_cast<const VArrayString&>(other);
	for (int32 pos = 1; pos <= fCount; ++pos)
	{
		const VString* element = source._GetElement(pos);
		if (element == nullptr)
			continue;
		VString* copy = _NewCopy(*element);
		if (copy == nullptr)
			return false;
		_SetElement(pos, copy);
	}
	return true;
}

VError VArrayString::_ReadElements(VStream* stream)
{
	for (int32 pos = 1; pos <= fCount; ++pos)
	{
		int32 marker = 0;
		if (stream->GetLong(marker) != VE_OK)
			break;
		if (marker != kSTRING_MARKER)
			continue;
		VString* element = VString::NewString(0);
		if (element == nullptr)
			return VE_STRING_ALLOC_FAILED;
		_SetElement(pos, element);
		const VError error = element->ReadFromStream(stream);
		if (error != VE_OK)
			return error;
	}
	return stream->GetLastError();
}

void VArrayString::_WriteElements(VStream* stream) const
{
	for (int32 pos = 1; pos <= fCount && stream->GetLastError() == VE_OK; ++pos)
	{
		const VString* element = _GetElement(pos);
		if (element == nullptr || element->IsNull())
		{
			stream->PutLong(kNULL_MARKER);
			continue;
		}
		stream->PutLong(kSTRING_MARKER);
		element->WriteToStream(stream);
	}
}

}  // namespace velk
