// The value bag as XML text: one element per bag, attributes as XML attributes, element lists as child
// elements and the character data as text or CDATA sections.
#include "containers/VValueBag.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "containers/VBagArray.h"
#include "kernel/strings/VString.h"

namespace velk {

namespace {

constexpr CharSet kUTF8 = 7;
constexpr int32 kMAX_INDENTATION = 100;

bool IsKey(const char* bytes, size_t length, const char* literal)
{
	return length == std::strlen(literal) && std::memcmp(bytes, literal, length) == 0;
}

bool IsHighSurrogate(UniChar unit)
{
	return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(UniChar unit)
{
	return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Units XML text may hold: U+0020 to U+D7FF, U+E000 to U+FFFD and whole surrogate pairs (the length of
// the character at p: 1 or 2), 0 for a unit XML forbids, a lone surrogate included. TAB, LF and CR are
// left to the caller.
int32 AllowedLength(const UniChar* p, const UniChar* end)
{
	const UniChar unit = *p;
	if (unit >= 0x20 && unit < 0xD800)
		return 1;
	if (unit >= 0xE000 && unit <= 0xFFFD)
		return 1;
	if (IsHighSurrogate(unit) && p + 1 < end && IsLowSurrogate(p[1]))
		return 2;
	return 0;
}

bool IsLineSpace(UniChar unit)
{
	return unit == 0x09 || unit == 0x0A || unit == 0x0D;
}

// Appends the text keeping what XML can carry; with keepLineSpaces TAB, LF and CR stay too.
void AppendXMLCharacters(VString& out, const UniChar* p, const UniChar* end, bool keepLineSpaces)
{
	const UniChar* run = p;
	while (p < end)
	{
		const int32 length = AllowedLength(p, end);
		if (length > 0 || (keepLineSpaces && IsLineSpace(*p)))
		{
			p += length > 0 ? length : 1;
			continue;
		}
		out.AppendUniChars(run, int32(p - run));
		run = ++p;
	}
	out.AppendUniChars(run, int32(p - run));
}

// An attribute value between double quotes. Readers turn TAB, LF and CR in attributes into blanks, so
// they are written as character references; characters XML forbids are left out, so the file reads back.
void AppendXMLAttributeValue(VString& out, const VString& text)
{
	const UniChar* p = text.GetCPointer();
	const UniChar* const end = p + text.GetLength();
	const UniChar* run = p;
	while (p < end)
	{
		const UniChar unit = *p;
		const char* escape = nullptr;
		switch (unit)
		{
			case u'&':
				escape = "&amp;";
				break;
			case u'<':
				escape = "&lt;";
				break;
			case u'>':
				escape = "&gt;";
				break;
			case u'"':
				escape = "&quot;";
				break;
			case u'\'':
				escape = "&apos;";
				break;
			case 0x09:
				escape = "&#x9;";
				break;
			case 0x0A:
				escape = "&#xA;";
				break;
			case 0x0D:
				escape = "&#xD;";
				break;
			default:
				break;
		}
		const int32 length = escape == nullptr ? AllowedLength(p, end) : 0;
		if (length > 0)
		{
			p += length;
			continue;
		}
		out.AppendUniChars(run, int32(p - run));
		if (escape != nullptr)
			out.AppendCString(escape);
		run = ++p;
	}
	out.AppendUniChars(run, int32(p - run));
}

bool IsNullValue(const VValueSingle* value)
{
	return value != nullptr && value->IsNull();
}

// A value's text: a string as it is, another kind in its XML form (which holds no markup).
void GetValueText(const VValueSingle* value, VString& text, bool xmlForm)
{
	text.Clear();
	if (value == nullptr)
		return;
	if (value->GetValueInfo() != nullptr && value->GetValueInfo()->GetKind() == VK_STRING)
		text.FromString(static_cast<const VString&>(*value));
	else if (xmlForm)
		value->GetXMLString(text);
	else
		value->GetString(text);
}

}  // namespace

void VValueBag::DumpXMLIndentation(VString& text, int32 level)
{
	for (int32 i = 0; i < level && i < kMAX_INDENTATION; ++i)
		text.AppendUniChar(u'\t');
}

bool VValueBag::NeedsEscapeSequence(const VString& text, const UniChar* begin, const UniChar* end)
{
	const UniChar* p = text.GetCPointer();
	const UniChar* const stop = p + text.GetLength();
	if (begin == end)
	{
		bool lineSpace = false;
		bool other = false;
		for (; p < stop && !(lineSpace && other); ++p)
		{
			if (IsLineSpace(*p))
				lineSpace = true;
			else if (*p != u' ')
				other = true;
		}
		return lineSpace && other;
	}
	for (; p < stop; ++p)
	{
		if (std::find(begin, end, *p) != end)
			return true;
	}
	return false;
}

void VValueBag::DumpXML(VString& text, const VString& elementName, bool indented) const
{
	const int32 length = text.GetLength();
	// Part of an element is no XML.
	if (!_DumpXML(text, elementName, indented ? 0 : -1))
		text.Truncate(length);
}

bool VValueBag::_DumpXML(VString& text, const VString& elementName, int32 level) const
{
	// Each child is written by its own call.
	if (_IsStackLow())
		return _Failed(VE_STACK_OVERFLOW);
	DumpXMLIndentation(text, level);
	const auto cdata = fAttributes._Find(CDataAttributeName());
	// A null character data is none, as a null attribute is left out.
	const int32 cdataIndex = cdata != fAttributes.end() && !IsNullValue(fAttributes.GetValuePtr(cdata)) ? int32(cdata - fAttributes.begin()) + 1 : 0;
	if (DumpXMLAttributes(text, elementName, cdataIndex))
		return true;

	VString childName;
	for (int32 n = 1; n <= GetElementNamesCount(); ++n)
	{
		const VBagArray* list = GetNthElementName(n, &childName);
		const int32 count = list != nullptr ? list->GetCount() : 0;
		for (int32 pos = 1; pos <= count; ++pos)
		{
			const VValueBag* child = list->_GetNth(pos);
			if (child == nullptr)
				continue;
			text.AppendUniChar(u'\n');
			if (!child->_DumpXML(text, childName, level >= 0 ? level + 1 : -1))
				return false;
		}
	}

	const bool wroteText = cdataIndex != 0 && DumpXMLCData(text, cdataIndex);
	if (level >= 0 && !wroteText)
	{
		text.AppendUniChar(u'\n');
		DumpXMLIndentation(text, level);
	}
	text.AppendCString("</");
	text.AppendUniChars(elementName.GetCPointer(), elementName.GetLength());
	text.AppendUniChar(u'>');
	return true;
}

bool VValueBag::DumpXMLAttributes(VString& text, const VString& elementName, int32 cdataIndex) const
{
	text.AppendUniChar(u'<');
	text.AppendUniChars(elementName.GetCPointer(), elementName.GetLength());
	VString name;
	VString value;
	for (auto slot = fAttributes.begin(); slot != fAttributes.end(); ++slot)
	{
		if (int32(slot - fAttributes.begin()) + 1 == cdataIndex)
			continue;
		size_t length = 0;
		const char* bytes = fAttributes._GetKeyBytes(*slot, length);
		if (IsKey(bytes, length, "<>") || IsKey(bytes, length, "____objectunic") || IsKey(bytes, length, "____property_name_in_jsarray"))
			continue;
		// XML has no null: an attribute that holds none is absent, where an empty text would read back as a
		// value.
		const VValueSingle* attribute = fAttributes.GetValuePtr(slot);
		if (IsNullValue(attribute))
			continue;
		name.FromBlock(bytes, length, kUTF8);
		GetValueText(attribute, value, true);
		text.AppendUniChar(u' ');
		text.AppendUniChars(name.GetCPointer(), name.GetLength());
		text.AppendCString("=\"");
		AppendXMLAttributeValue(text, value);
		text.AppendUniChar(u'"');
	}
	const bool empty = GetElementNamesCount() == 0 && cdataIndex == 0;
	text.AppendCString(empty ? "/>" : ">");
	return empty;
}

bool VValueBag::DumpXMLCData(VString& text, int32 cdataIndex) const
{
	if (cdataIndex < 1 || size_t(cdataIndex) > fAttributes.GetCount())
		return false;
	VString data;
	GetValueText(fAttributes.GetValuePtr(fAttributes.begin() + (cdataIndex - 1)), data, false);
	static constexpr UniChar kMarkup[] = {u'&', u'>', u'"', u'\'', u'<'};
	const bool section = NeedsEscapeSequence(data, kMarkup, kMarkup + std::size(kMarkup)) || NeedsEscapeSequence(data, nullptr, nullptr);
	const UniChar* p = data.GetCPointer();
	const UniChar* const end = p + data.GetLength();
	if (!section)
	{
		const int32 before = text.GetLength();
		AppendXMLCharacters(text, p, end, false);
		return text.GetLength() != before;
	}
	// Filtered first: a character left out between "]]" and ">" must not make a "]]>" the scan below
	// would miss.
	VString kept;
	AppendXMLCharacters(kept, p, end, true);
	p = kept.GetCPointer();
	const UniChar* const keptEnd = p + kept.GetLength();
	// A "]]>" inside would end the section: it ends there, its "]]" follows as text and a new section
	// opens with its ">".
	text.AppendCString("<![CDATA[");
	const UniChar* run = p;
	for (; p + 2 < keptEnd; ++p)
	{
		if (p[0] == u']' && p[1] == u']' && p[2] == u'>')
		{
			text.AppendUniChars(run, int32(p - run));
			text.AppendCString("]]>]]<![CDATA[");
			run = p + 2;
		}
	}
	text.AppendUniChars(run, int32(keptEnd - run));
	text.AppendCString("]]>");
	return true;
}

}  // namespace velk
