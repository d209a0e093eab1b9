// Typed values from attribute texts (XML attributes read into bags): numbers, booleans, infinities, NaN
// and UUIDs become values of their kind, any other text a string.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VString;
class VValueSingle;

// A new value for the text, owned by the caller; null only when memory is short (velk 100 raised).
// Blanks (the current task's international manager's, else space, tab, CR and LF) are ignored at both
// ends. An optional sign '+', '-' or U+2212 may lead. "INF" (unsigned or '-') gives an infinite VReal,
// "NaN" a NaN, "true" and "false" a VBoolean. Digits with a fraction ('.') or an exponent ('e' or 'E',
// optionally signed) give a VReal, read in the "C" locale whatever the user's (a text out of a double's
// range is no number); plain digits a VLong below 2^31 in magnitude, else a VLong8 when they fit it. An
// unsigned text starting with a digit, 'f' or '{' that holds 32 hexadecimal digits (hyphens or U+2212
// between them, the whole optionally in braces) gives a VUUID. Anything else gives the text, untrimmed,
// as a VString.
VELK_API VValueSingle* ParseXMLValue(const VString& text);

}  // namespace velk
