// Appending to JSON text with the outcome told: a string that cannot grow raises velk 107 and keeps itself as
// it was, so the writers check the length to stop at the first failure. Internal to the JSON text code.
#pragma once

#include <cstring>

#include "kernel/strings/VString.h"
#include "kernel/values/VNumberText.h"

namespace velk::jsontext {

inline bool Append(VString& target, const VString& text)
{
	if (text.IsEmpty())
		return true;
	const int32 before = target.GetLength();
	target.AppendUniChars(text.GetCPointer(), text.GetLength());
	return target.GetLength() == before + text.GetLength();
}

inline bool AppendUnit(VString& target, UniChar unit)
{
	const int32 before = target.GetLength();
	return target.AppendUniChar(unit).GetLength() == before + 1;
}

inline bool AppendASCII(VString& target, const char* text)
{
	const int32 before = target.GetLength();
	target.AppendCString(text);
	return target.GetLength() == before + int32(std::strlen(text));
}

// Writes the escape of one unit that JSON text may not hold as it is (a quote, a backslash or a control
// character) at cursor, at most 6 units, and answers the position behind it.
inline UniChar* WriteEscape(UniChar* cursor, UniChar unit)
{
	*cursor++ = u'\\';
	switch (unit)
	{
		case 0x08:
			*cursor++ = u'b';
			break;
		case 0x09:
			*cursor++ = u't';
			break;
		case 0x0A:
			*cursor++ = u'n';
			break;
		case 0x0C:
			*cursor++ = u'f';
			break;
		case 0x0D:
			*cursor++ = u'r';
			break;
		case u'"':
		case u'\\':
			*cursor++ = unit;
			break;
		default:
			*cursor++ = u'u';
			*cursor++ = u'0';
			*cursor++ = u'0';
			*cursor++ = UniChar(VNumberText::kUpperHexDigits[(unit >> 4) & 0xF]);
			*cursor++ = UniChar(VNumberText::kUpperHexDigits[unit & 0xF]);
			break;
	}
	return cursor;
}

}  // namespace velk::jsontext
