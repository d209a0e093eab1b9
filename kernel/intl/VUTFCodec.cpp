// Transcoding core between UTF-8, UTF-32 and UTF-16.
#include "kernel/intl/VUTFCodec.h"

#include <algorithm>
#include <bit>
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

// Sixteen bytes and sixteen units as vectors, for widening ASCII runs a block at a time.
using Bytes16 = uint8 __attribute__((vector_size(16)));
using Units16 = uint16 __attribute__((vector_size(32)));

inline bool IsContinuation(uint8 byte)
{
	return (byte & 0xC0) == 0x80;
}

// Four bytes, the lowest first, in one store where the machine allows.
inline void StoreLittleEndian32(uint8* p, uint32 value)
{
	if constexpr (std::endian::native == std::endian::big)
		value = __builtin_bswap32(value);
	std::memcpy(p, &value, 4);
}

inline uint64 LoadLittleEndian64(const uint8* p)
{
	uint64 value;
	std::memcpy(&value, p, 8);
	if constexpr (std::endian::native == std::endian::big)
		value = __builtin_bswap64(value);
	return value;
}

// The unit of a well-formed three-byte sequence whose bytes are the low three of bytes, the first lowest.
inline UniChar ThreeByteUnit(uint64 bytes)
{
	return UniChar(((bytes & 0x0F) << 12) | ((bytes & 0x3F00) >> 2) | ((bytes >> 16) & 0x3F));
}

inline uint32 ReadUInt32(const uint8* p, bool swap)
{
	uint32 value;
	std::memcpy(&value, p, 4);
	return swap ? __builtin_bswap32(value) : value;
}

}  // namespace

namespace {

enum class EStep
{
	kDone,  // one character decoded
	kStop   // the sequence runs past the input, or the room is too small: stop before it
};

// Decodes the character at p by the general rules (every lead byte, every malformed case).
inline EStep DecodeOneUTF8(const uint8*& p, const uint8* end, UniChar*& out, UniChar* outEnd, bool& result)
{
	const uint8 lead = *p;
	if (lead < 0x80)
	{
		*out++ = lead;
		++p;
		return EStep::kDone;
	}

	const size_t following = kFollowingBytes[lead];
	const size_t available = size_t(end - p - 1);
	const size_t present = available < following ? available : following;
	for (size_t i = 1; i <= present; ++i)
	{
		if (!IsContinuation(p[i]))
		{
			// A Latin-1 byte among ASCII text: keep it and the byte after it.
			*out++ = lead;
			++p;
			return EStep::kDone;
		}
	}
	if (present < following)
		return EStep::kStop;  // the rest of the sequence comes with the next call

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
			return EStep::kStop;
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
	return EStep::kDone;
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

	// Where at least 16 bytes and 16 units remain, every sequence lies whole in the input and fits the room:
	// well-formed characters go without bounds checks, ASCII runs eight bytes at a time. Units past the ones
	// produced, within the room, may be written over.
	if (end - p >= 16 && outEnd - out >= 16)
	{
		const uint8* const fastEnd = end - 16;
		UniChar* const fastOutEnd = outEnd - 16;
		while (p <= fastEnd && out <= fastOutEnd)
		{
			const uint8 lead = *p;
			if (lead < 0x80)
			{
				// Whole blocks of sixteen ASCII bytes, widened in one go.
				while (p <= fastEnd && out <= fastOutEnd)
				{
					uint64 low;
					uint64 high;
					std::memcpy(&low, p, 8);
					std::memcpy(&high, p + 8, 8);
					if (((low | high) & 0x8080808080808080ull) != 0)
						break;
					Bytes16 bytes;
					std::memcpy(&bytes, p, sizeof(bytes));
					const Units16 units = __builtin_convertvector(bytes, Units16);
					std::memcpy(out, &units, sizeof(units));
					p += 16;
					out += 16;
				}
				if (p > fastEnd || out > fastOutEnd)
					break;
				// Up to eight ASCII bytes: all eight are widened (the room allows it), the run's length counts.
				uint64 eight;
				std::memcpy(&eight, p, 8);
				for (int i = 0; i < 8; ++i)
					out[i] = p[i];
				const uint64 high = eight & 0x8080808080808080ull;
				const size_t ascii = (high == 0) ? 8 : size_t(__builtin_ctzll(high)) >> 3;
				p += ascii;
				out += ascii;
				continue;
			}
			if ((lead & 0xE0) == 0xC0)
			{
				if (IsContinuation(p[1]))
				{
					*out++ = UniChar(((lead & 0x1F) << 6) | (p[1] & 0x3F));
					p += 2;
					continue;
				}
			}
			else if ((lead & 0xF0) == 0xE0)
			{
				// A run of three-byte characters (most of Chinese, Japanese and Korean text), four and then two
				// at a time: 16 bytes lie ahead, so both eight-byte reads stay in the input.
				constexpr uint64 kTwoMarkers = 0x8080E08080E0ull;
				constexpr uint64 kTwoMarkerBits = 0xC0C0F0C0C0F0ull;
				uint64 bytes = LoadLittleEndian64(p);
				if ((bytes & kTwoMarkerBits) == kTwoMarkers)
				{
					for (;;)
					{
						const uint64 next = LoadLittleEndian64(p + 6);
						out[0] = ThreeByteUnit(bytes);
						out[1] = ThreeByteUnit(bytes >> 24);
						p += 6;
						out += 2;
						if ((next & kTwoMarkerBits) != kTwoMarkers)
							break;
						out[0] = ThreeByteUnit(next);
						out[1] = ThreeByteUnit(next >> 24);
						p += 6;
						out += 2;
						if (p > fastEnd || out > fastOutEnd)
							break;
						bytes = LoadLittleEndian64(p);
						if ((bytes & kTwoMarkerBits) != kTwoMarkers)
							break;
					}
					continue;
				}
				if (IsContinuation(p[1]) && IsContinuation(p[2]))
				{
					*out++ = UniChar(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
					p += 3;
					continue;
				}
			}
			else if ((lead & 0xF8) == 0xF0)
			{
				if (IsContinuation(p[1]) && IsContinuation(p[2]) && IsContinuation(p[3]))
				{
					const uint32 value = (uint32(lead & 0x07) << 18) | (uint32(p[1] & 0x3F) << 12) | (uint32(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
					if (value < 0x10000)
					{
						*out++ = UniChar(value);  // an overlong form
					}
					else if (value <= kMaxCodePoint)
					{
						*out++ = UniChar(0xD800 + ((value - 0x10000) >> 10));
						*out++ = UniChar(0xDC00 + (value & 0x3FF));
					}
					else
					{
						*out++ = u'?';
						result = false;
					}
					p += 4;
					continue;
				}
			}
			DecodeOneUTF8(p, end, out, outEnd, result);
		}
	}

	while (p < end && out < outEnd)
	{
		if (DecodeOneUTF8(p, end, out, outEnd, result) == EStep::kStop)
			break;
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

	// While at least 8 units and 16 bytes of room remain, every character fits and a high surrogate has
	// its next unit in the input: no bounds checks, ASCII runs four units at a time. Bytes past the ones
	// produced, within the room, may be written over.
	if (!counting && end - p >= 8)
	{
		// No character needs more than three bytes per unit: more room than that is never used, which keeps
		// the limit below inside the caller's block.
		const size_t room = std::min(destMaxBytes, size_t(end - p) * 3);
		if (room >= 16)
		{
			const UniChar* const fastEnd = end - 8;
			uint8* const fastOutEnd = outBegin + (room - 16);
			while (p <= fastEnd && out <= fastOutEnd)
			{
				const uint32 unit = *p;
				if (unit < 0x80)
				{
					// Up to four ASCII units: all four are narrowed (the room allows it), the run's length counts.
					uint64 four;
					std::memcpy(&four, p, 8);
					out[0] = uint8(p[0]);
					out[1] = uint8(p[1]);
					out[2] = uint8(p[2]);
					out[3] = uint8(p[3]);
					const uint64 high = four & 0xFF80FF80FF80FF80ull;
					const size_t ascii = (high == 0) ? 4 : size_t(__builtin_ctzll(high)) >> 4;
					p += ascii;
					out += ascii;
					continue;
				}
				if (unit < 0x800)
				{
					out[0] = uint8(0xC0 | (unit >> 6));
					out[1] = uint8(0x80 | (unit & 0x3F));
					out += 2;
					++p;
					continue;
				}
				if (unit - 0xD800 >= 0x800)
				{
					// A run of three-byte characters (CJK text) stays in this loop, each written as one four-byte
					// store whose last byte the next character overwrites (the room allows it).
					const size_t limit = std::min(size_t(fastEnd - p), size_t(fastOutEnd - out) / 3) + 1;
					size_t k = 0;
					do
					{
						const uint32 u = p[k];
						if (u < 0x800 || u - 0xD800 < 0x800)
							break;
						const uint32 bytes = (0xE0 | (u >> 12)) | ((0x80 | ((u >> 6) & 0x3F)) << 8) | ((0x80 | (u & 0x3F)) << 16);
						StoreLittleEndian32(out + 3 * k, bytes);
					} while (++k < limit);
					p += k;
					out += 3 * k;
					continue;
				}
				if (unit <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF)
				{
					const uint32 value = ((unit - 0xD800) << 10) + (uint32(p[1]) - 0xDC00) + 0x10000;
					out[0] = uint8(0xF0 | (value >> 18));
					out[1] = uint8(0x80 | ((value >> 12) & 0x3F));
					out[2] = uint8(0x80 | ((value >> 6) & 0x3F));
					out[3] = uint8(0x80 | (value & 0x3F));
					out += 4;
					p += 2;
					continue;
				}
				// A lone surrogate stands alone, in three bytes.
				out[0] = uint8(0xE0 | (unit >> 12));
				out[1] = uint8(0x80 | ((unit >> 6) & 0x3F));
				out[2] = uint8(0x80 | (unit & 0x3F));
				out += 3;
				++p;
			}
		}
	}

	size_t produced = size_t(out - outBegin);
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

bool EncodeUTF8Wide(const wchar_t* source, int32 sourceUnits, int32* outUnitsConsumed, void* dest, size_t destMaxBytes, size_t* outBytesProduced)
{
	static_assert(sizeof(wchar_t) == 4, "wide characters are 32-bit units");
	const wchar_t* p = source;
	const wchar_t* const end = (source == nullptr || sourceUnits <= 0) ? source : source + sourceUnits;
	uint8* out = static_cast<uint8*>(dest);
	const bool counting = (dest == nullptr);
	size_t produced = 0;
	bool result = true;

	while (p < end)
	{
		uint32 value = uint32(*p);
		int32 units = 1;
		if (value >= 0xD800 && value <= 0xDBFF)
		{
			if (p + 1 == end)
				break;  // its low surrogate may come with the next call
			const uint32 next = uint32(p[1]);
			if (next >= 0xDC00 && next <= 0xDFFF)
			{
				value = ((value - 0xD800) << 10) + (next - 0xDC00) + 0x10000;
				units = 2;
			}
		}
		if (value >= 0x80000000u)
		{
			result = false;
			break;
		}

		size_t length;
		uint8 mark;
		if (value < 0x80)
		{
			length = 1;
			mark = 0x00;
		}
		else if (value < 0x800)
		{
			length = 2;
			mark = 0xC0;
		}
		else if (value < 0x10000)
		{
			length = 3;
			mark = 0xE0;
		}
		else if (value < 0x200000)
		{
			length = 4;
			mark = 0xF0;
		}
		else if (value < 0x4000000)
		{
			length = 5;
			mark = 0xF8;
		}
		else
		{
			length = 6;
			mark = 0xFC;
		}
		if (!counting)
		{
			if (destMaxBytes - produced < length)
				break;
			uint32 rest = value;
			for (size_t i = length - 1; i > 0; --i)
			{
				out[i] = uint8(0x80 | (rest & 0x3F));
				rest >>= 6;
			}
			out[0] = uint8(mark | rest);
			out += length;
		}
		produced += length;
		p += units;
	}

	*outUnitsConsumed = int32(p - source);
	*outBytesProduced = produced;
	return result;
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

bool IsWellFormedUTF16(const UniChar* units, int32 count)
{
	for (int32 i = 0; i < count; ++i)
	{
		if (units[i] >= 0xD800 && units[i] <= 0xDBFF)
		{
			if (i + 1 == count || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
				return false;
			++i;
		}
		else if (units[i] >= 0xDC00 && units[i] <= 0xDFFF)
		{
			return false;
		}
	}
	return true;
}

bool ToStrictUTF8(const UniChar* units, int32 count, std::string& out)
{
	out.clear();
	if (count > 0 && !IsWellFormedUTF16(units, count))
		return false;
	out = ToUTF8String(units, count);
	return true;
}

size_t DecodeStrictUTF8Sequence(const void* source, size_t count, uint32& codePoint)
{
	const unsigned char* bytes = static_cast<const unsigned char*>(source);
	if (count == 0)
		return 0;
	const unsigned char lead = bytes[0];
	if (lead < 0x80)
	{
		codePoint = lead;
		return 1;
	}
	size_t extra;
	uint32 value;
	uint32 least;
	if (lead >= 0xC2 && lead <= 0xDF)
	{
		extra = 1;
		value = lead & 0x1F;
		least = 0x80;
	}
	else if (lead >= 0xE0 && lead <= 0xEF)
	{
		extra = 2;
		value = lead & 0x0F;
		least = 0x800;
	}
	else if (lead >= 0xF0 && lead <= 0xF4)
	{
		extra = 3;
		value = lead & 0x07;
		least = 0x10000;
	}
	else
		return 0;
	if (count <= extra)
		return 0;
	for (size_t k = 1; k <= extra; ++k)
	{
		const unsigned char next = bytes[k];
		if ((next & 0xC0) != 0x80)
			return 0;
		value = (value << 6) | (next & 0x3F);
	}
	if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
		return 0;
	codePoint = value;
	return extra + 1;
}

namespace {

bool DecodeStrictUTF8(const void* source, size_t count, std::u16string& out)
{
	const unsigned char* bytes = static_cast<const unsigned char*>(source);
	out.clear();
	out.reserve(count);
	size_t i = 0;
	while (i < count)
	{
		uint32 value = 0;
		const size_t length = DecodeStrictUTF8Sequence(bytes + i, count - i, value);
		if (length == 0)
			return false;
		if (value >= 0x10000)
		{
			value -= 0x10000;
			out.push_back(char16_t(0xD800 + (value >> 10)));
			out.push_back(char16_t(0xDC00 + (value & 0x3FF)));
		}
		else
			out.push_back(char16_t(value));
		i += length;
	}
	return true;
}

}  // namespace

bool FromStrictUTF8(const void* bytes, size_t count, std::u16string& out)
{
	if (DecodeStrictUTF8(bytes, count, out))
		return true;
	// A failed decoding leaves nothing half-made.
	out.clear();
	return false;
}

}  // namespace velk
