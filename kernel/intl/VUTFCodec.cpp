// Transcoding core between UTF-8, UTF-32 and UTF-16.
#include "kernel/intl/VUTFCodec.h"

#include <cstring>

namespace velk {

namespace {

// Number of bytes following a lead byte; 0 for ASCII and for a stray continuation byte.
constexpr uint8 kFollowingBytes[256] = {
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
	1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
	2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};

// What the lead byte's marker bits and the continuation markers add up to, per count of following bytes
// (wrapping 32-bit arithmetic, as the five- and six-byte forms overflow).
constexpr uint32 kOffsets[6] = {0x00000000u, 0x00003080u, 0x000E2080u, 0x03C82080u, 0xFA082080u, 0x82082080u};

constexpr uint32 kMaxCodePoint = 0x10FFFF;

inline bool IsContinuation(uint8 byte)
{
	return (byte & 0xC0) == 0x80;
}

inline uint32 ReadUInt32(const uint8* p, bool swap)
{
	uint32 value;
	std::memcpy(&value, p, 4);
	return swap ? __builtin_bswap32(value) : value;
}

}  // namespace

bool DecodeUTF8(const void* source, size_t sourceBytes, size_t* outBytesConsumed, UniChar* dest, int32 destMaxUnits, int32* outUnitsProduced)
{
	const uint8* const begin = static_cast<const uint8*>(source);
	const uint8* p = begin;
	const uint8* const end = (begin == nullptr) ? begin : begin + sourceBytes;
	UniChar* out = dest;
	UniChar* const outEnd = (dest == nullptr || destMaxUnits <= 0) ? dest : dest + destMaxUnits;
	bool result = true;

	while (p < end && out < outEnd)
	{
		// ASCII runs, eight bytes at a time.
		while (end - p >= 8 && outEnd - out >= 8)
		{
			uint64 eight;
			std::memcpy(&eight, p, 8);
			if ((eight & 0x8080808080808080ull) != 0)
				break;
			for (int i = 0; i < 8; ++i)
				out[i] = p[i];
			p += 8;
			out += 8;
		}
		if (p == end || out == outEnd)
			break;

		const uint8 lead = *p;
		if (lead < 0x80)
		{
			*out++ = lead;
			++p;
			continue;
		}

		const size_t following = kFollowingBytes[lead];
		const size_t present = size_t(end - p - 1) < following ? size_t(end - p - 1) : following;
		bool wellFormed = true;
		for (size_t i = 1; i <= present; ++i)
		{
			if (!IsContinuation(p[i]))
			{
				wellFormed = false;
				break;
			}
		}
		if (!wellFormed)
		{
			// A Latin-1 byte among ASCII text: keep it and the byte after it.
			*out++ = lead;
			++p;
			continue;
		}
		if (present < following)
			break;  // the rest of the sequence comes with the next call

		uint32 value = lead;
		for (size_t i = 1; i <= following; ++i)
			value = (value << 6) + p[i];
		value -= kOffsets[following];

		if (value < 0x10000)
		{
			*out++ = UniChar(value);
		}
		else
		{
			if (outEnd - out < 2)
				break;
			if (value <= kMaxCodePoint)
			{
				value -= 0x10000;
				*out++ = UniChar(0xD800 + (value >> 10));
				*out++ = UniChar(0xDC00 + (value & 0x3FF));
			}
			else
			{
				*out++ = u'?';
				result = false;
			}
		}
		p += following + 1;
	}

	*outBytesConsumed = size_t(p - begin);
	*outUnitsProduced = int32(out - dest);
	return result;
}

bool DecodeUTF32(const void* source, size_t sourceBytes, bool swap, size_t* outBytesConsumed, UniChar* dest, int32 destMaxUnits, int32* outUnitsProduced)
{
	const uint8* const begin = static_cast<const uint8*>(source);
	const uint8* p = begin;
	const size_t whole = (begin == nullptr) ? 0 : sourceBytes & ~size_t(3);
	const uint8* const end = begin + whole;
	UniChar* out = dest;
	UniChar* const outEnd = (dest == nullptr || destMaxUnits <= 0) ? dest : dest + destMaxUnits;
	bool result = true;

	while (p < end)
	{
		if (out >= outEnd)
		{
			result = false;
			break;
		}
		const uint32 value = ReadUInt32(p, swap);
		if (value < 0xD800 || (value > 0xDFFF && value < 0x10000))
		{
			*out++ = UniChar(value);
		}
		else if (value <= 0xDFFF)
		{
			result = false;
			break;
		}
		else if (value <= kMaxCodePoint)
		{
			if (outEnd - out < 2)
			{
				result = false;
				break;
			}
			const uint32 v = value - 0x10000;
			*out++ = UniChar(0xD800 + (v >> 10));
			*out++ = UniChar(0xDC00 + (v & 0x3FF));
		}
		else
		{
			result = false;
		}
		p += 4;
	}

	*outBytesConsumed = size_t(p - begin);
	*outUnitsProduced = int32(out - dest);
	return result;
}

bool EncodeUTF8(const UniChar* source, int32 sourceUnits, int32* outUnitsConsumed, void* dest, size_t destMaxBytes, size_t* outBytesProduced)
{
	const UniChar* p = source;
	const UniChar* const end = (source == nullptr || sourceUnits <= 0) ? source : source + sourceUnits;
	uint8* const outBegin = static_cast<uint8*>(dest);
	uint8* out = outBegin;
	const bool counting = (dest == nullptr);
	size_t produced = 0;

	while (p < end)
	{
		uint32 value = *p;
		int32 units = 1;
		if (value >= 0xD800 && value <= 0xDBFF)
		{
			if (p + 1 == end)
				break;  // its low surrogate may come with the next call
			const uint32 next = p[1];
			if (next >= 0xDC00 && next <= 0xDFFF)
			{
				value = ((value - 0xD800) << 10) + (next - 0xDC00) + 0x10000;
				units = 2;
			}
		}

		const size_t length = value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
		if (!counting && destMaxBytes - produced < length)
			break;
		if (!counting)
		{
			switch (length)
			{
				case 1:
					out[0] = uint8(value);
					break;
				case 2:
					out[0] = uint8(0xC0 | (value >> 6));
					out[1] = uint8(0x80 | (value & 0x3F));
					break;
				case 3:
					out[0] = uint8(0xE0 | (value >> 12));
					out[1] = uint8(0x80 | ((value >> 6) & 0x3F));
					out[2] = uint8(0x80 | (value & 0x3F));
					break;
				default:
					out[0] = uint8(0xF0 | (value >> 18));
					out[1] = uint8(0x80 | ((value >> 12) & 0x3F));
					out[2] = uint8(0x80 | ((value >> 6) & 0x3F));
					out[3] = uint8(0x80 | (value & 0x3F));
					break;
			}
			out += length;
		}
		produced += length;
		p += units;
	}

	*outUnitsConsumed = int32(p - source);
	*outBytesProduced = produced;
	return true;
}

std::string ToUTF8String(const UniChar* units, int32 count)
{
	std::string text;
	if (units == nullptr || count < 1)
		return text;

	// At most three bytes per unit: a pair of units gives four.
	text.resize(size_t(count) * 3);
	int32 consumed = 0;
	size_t produced = 0;
	EncodeUTF8(units, count, &consumed, text.data(), text.size(), &produced);
	if (consumed < count)
	{
		// Only a high surrogate at the very end is left: nothing follows it, so it stands alone.
		const uint32 value = units[consumed];
		text[produced++] = char(0xE0 | (value >> 12));
		text[produced++] = char(0x80 | ((value >> 6) & 0x3F));
		text[produced++] = char(0x80 | (value & 0x3F));
	}
	text.resize(produced);
	return text;
}

}  // namespace velk
