#include "platform/SharedText.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace plat {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point that begins at bytes (count > 0 of them) and the bytes it takes. An ill-formed sequence
// gives U+FFFD and takes its longest start that could still have become valid, at least one byte: the
// practice Unicode recommends, so that one bad byte never swallows the good text behind it.
char32_t DecodeOne(const unsigned char* bytes, size_t count, size_t& outUsed)
{
	const unsigned char lead = bytes[0];
	outUsed = 1;
	if (lead < 0x80)
		return lead;

	size_t trail;
	char32_t value;
	// The range of the first trailing byte excludes overlong forms, surrogates and values past U+10FFFF.
	unsigned char low = 0x80;
	unsigned char high = 0xBF;
	if (lead >= 0xC2 && lead <= 0xDF)
	{
		trail = 1;
		value = lead & 0x1F;
	}
	else if (lead >= 0xE0 && lead <= 0xEF)
	{
		trail = 2;
		value = lead & 0x0F;
		if (lead == 0xE0)
			low = 0xA0;
		else if (lead == 0xED)
			high = 0x9F;
	}
	else if (lead >= 0xF0 && lead <= 0xF4)
	{
		trail = 3;
		value = lead & 0x07;
		if (lead == 0xF0)
			low = 0x90;
		else if (lead == 0xF4)
			high = 0x8F;
	}
	else
	{
		return kReplacement;
	}

	size_t i = 1;
	for (; i <= trail && i < count; ++i)
	{
		const unsigned char byte = bytes[i];
		if (byte < low || byte > high)
			break;
		value = (value << 6) | (byte & 0x3F);
		low = 0x80;
		high = 0xBF;
	}
	outUsed = i;
	return i == trail + 1 ? value : kReplacement;
}

inline size_t UnitsOf(char32_t value)
{
	return value >= 0x10000 ? 2 : 1;
}

}  // namespace

SharedText* SharedText::CreateWithUnits(const char16_t* units, size_t count)
{
	if (units == nullptr && count > 0)
		return nullptr;
	if (count > SIZE_MAX / sizeof(char16_t) - 1)
		return nullptr;
	SharedText* text = new (std::nothrow) SharedText;
	if (text == nullptr)
		return nullptr;
	// One unit more, so that an empty text has storage too.
	text->fUnits = static_cast<char16_t*>(std::malloc((count + 1) * sizeof(char16_t)));
	if (text->fUnits == nullptr)
	{
		delete text;
		return nullptr;
	}
	if (count > 0)
		std::memcpy(text->fUnits, units, count * sizeof(char16_t));
	text->fUnits[count] = 0;
	text->fLength = count;
	return text;
}

SharedText* SharedText::CreateWithUTF8(const char* bytes, size_t count)
{
	if (bytes == nullptr && count > 0)
		return nullptr;
	if (count == SIZE_MAX)
		return nullptr;
	SharedText* text = new (std::nothrow) SharedText;
	if (text == nullptr)
		return nullptr;
	text->fBytes = static_cast<unsigned char*>(std::malloc(count + 1));
	if (text->fBytes == nullptr)
	{
		delete text;
		return nullptr;
	}
	if (count > 0)
		std::memcpy(text->fBytes, bytes, count);
	text->fByteCount = count;

	size_t length = 0;
	for (size_t at = 0; at < count;)
	{
		size_t used = 0;
		length += UnitsOf(DecodeOne(text->fBytes + at, count - at, used));
		at += used;
	}
	text->fLength = length;
	return text;
}

SharedText::~SharedText()
{
	std::free(fUnits);
	std::free(fBytes);
}

void SharedText::Retain() const
{
	fRefCount.fetch_add(1, std::memory_order_relaxed);
}

void SharedText::Release() const
{
	if (fRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
		delete this;
}

bool SharedText::GetUnits(size_t start, size_t count, char16_t* out) const
{
	fRangeReads.fetch_add(1, std::memory_order_relaxed);
	if (start > fLength || count > fLength - start)
		return false;
	if (count == 0)
		return true;
	if (fUnits != nullptr)
	{
		std::memcpy(out, fUnits + start, count * sizeof(char16_t));
		return true;
	}

	const size_t end = start + count;
	size_t unit = 0;
	for (size_t at = 0; at < fByteCount && unit < end;)
	{
		size_t used = 0;
		const char32_t value = DecodeOne(fBytes + at, fByteCount - at, used);
		at += used;
		char16_t pair[2];
		size_t units = 1;
		if (value >= 0x10000)
		{
			pair[0] = char16_t(0xD800 + ((value - 0x10000) >> 10));
			pair[1] = char16_t(0xDC00 + ((value - 0x10000) & 0x3FF));
			units = 2;
		}
		else
		{
			pair[0] = char16_t(value);
		}
		for (size_t i = 0; i < units; ++i, ++unit)
		{
			if (unit >= start && unit < end)
				out[unit - start] = pair[i];
		}
	}
	return true;
}

}  // namespace plat
