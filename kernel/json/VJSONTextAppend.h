// Appending to JSON text with the outcome told: a string that cannot grow raises velk 107 and keeps itself as
// it was, so the writers check the length to stop at the first failure. Internal to the JSON text code (the
// JSON writer and the bag's JSON form).
#pragma once

#include <algorithm>
#include <cstring>

#include "kernel/strings/VString.h"
#include "kernel/values/VNumberText.h"

namespace velk::jsontext {

// The text being written, straight into a string after what it holds: it grows by doubling and takes its
// length once, at the end, so that a large document is not appended piece by piece. A failure to grow raises
// velk 107 once and stops the writing.
class Buffer
{
public:
	explicit Buffer(VString& text) : fText(text), fLength(size_t(text.GetLength())) {}
	Buffer(const Buffer&) = delete;
	Buffer& operator=(const Buffer&) = delete;

	size_t Length() const { return fLength; }
	bool Failed() const { return fFailed; }
	void Fail() { fFailed = true; }

	// Room for count more units, or null.
	UniChar* Reserve(size_t count)
	{
		if (fUnits != nullptr && fCapacity - fLength >= count)
			return fUnits + fLength;
		return _Grow(count) ? fUnits + fLength : nullptr;
	}
	void Commit(const UniChar* end) { fLength = size_t(end - fUnits); }

	void Put(UniChar unit)
	{
		if (UniChar* room = Reserve(1))
		{
			*room = unit;
			++fLength;
		}
	}
	void Put(const UniChar* units, size_t count)
	{
		if (count == 0)
			return;
		if (UniChar* room = Reserve(count))
		{
			std::memcpy(room, units, count * sizeof(UniChar));
			fLength += count;
		}
	}
	void Put(const VString& text) { Put(text.GetCPointer(), size_t(text.GetLength())); }
	void PutASCII(const char* text, size_t count)
	{
		if (UniChar* room = Reserve(count))
		{
			for (size_t i = 0; i < count; ++i)
				room[i] = UniChar(uint8(text[i]));
			fLength += count;
		}
	}
	void PutTabs(int32 count)
	{
		if (count <= 0)
			return;
		if (UniChar* room = Reserve(size_t(count)))
		{
			std::fill(room, room + count, u'\t');
			fLength += size_t(count);
		}
	}

	// Gives the string its length; false when something could not be written.
	bool Close()
	{
		if (fFailed)
			return false;
		if (fUnits != nullptr)
			fText.Validate(int32(fLength));
		return true;
	}

private:
	bool _Grow(size_t count)
	{
		// A string holds fewer than 0x7FFFFFFF units.
		constexpr size_t kLimit = 0x7FFFFFFE;
		if (fFailed || count > kLimit - fLength)
		{
			if (!fFailed)
				_ThrowError(VE_STRING_ALLOC_FAILED);
			fFailed = true;
			return false;
		}
		const size_t capacity = std::min(std::max({fCapacity * 2, fLength + count, size_t(256)}), kLimit);
		// The string keeps the units written so far across the change of buffer.
		if (fUnits != nullptr)
			fText.Validate(int32(fLength));
		UniChar* units = fText.GetCPointerForWrite(int32(capacity));
		if (units == nullptr)
		{
			fFailed = true;
			return false;
		}
		fUnits = units;
		fCapacity = capacity;
		return true;
	}

	VString& fText;
	UniChar* fUnits = nullptr;
	size_t fLength;
	size_t fCapacity = 0;
	bool fFailed = false;
};

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
