// Appending to JSON text with the outcome told: a string that cannot grow raises velk 107 and keeps itself as
// it was, so the writers check the length to stop at the first failure. Internal to the JSON text code.
#pragma once

#include <cstring>

#include "kernel/strings/VString.h"

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

}  // namespace velk::jsontext
