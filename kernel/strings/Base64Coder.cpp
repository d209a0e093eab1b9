// Base64 text of bytes and back (RFC 4648), and the checksum texts.
#include "kernel/strings/Base64Coder.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

namespace {

constexpr uint8 kBad = 255;

// The inverse table of an alphabet, followed by the given extra bytes.
template <size_t N>
constexpr std::array<uint8, 256 + N> MakeInverse(const char* alphabet, const char (&extra)[N + 1])
{
	std::array<uint8, 256 + N> table{};
	for (size_t i = 0; i < 256; ++i)
		table[i] = kBad;
	for (size_t i = 0; i < 64; ++i)
		table[uint8(alphabet[i])] = uint8(i);
	for (size_t i = 0; i < N; ++i)
		table[256 + i] = uint8(extra[i]);
	return table;
}

// Output is produced in stack blocks of this many groups and appended to the buffer, which was sized
// beforehand so that appending never moves it.
constexpr size_t kGroupsPerBlock = 1024;

void Empty(Base64Coder::Buffer& out)
{
	Base64Coder::Buffer empty(out.GetAllocator());
	out = empty;
}

bool IsBlank(uint8 byte)
{
	return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n';
}

bool HoldsBlank(const uint8* data, size_t size)
{
	// Scanned in blocks without a branch per byte, which the compiler turns into vector code.
	constexpr size_t kBlock = 4096;
	for (size_t start = 0; start < size; start += kBlock)
	{
		const size_t end = size - start < kBlock ? size : start + kBlock;
		uint8 found = 0;
		for (size_t i = start; i < end; ++i)
			found |= uint8((data[i] == ' ') | (data[i] == '\t') | (data[i] == '\r') | (data[i] == '\n'));
		if (found != 0)
			return true;
	}
	return false;
}

// Decodes all groups in blocks through a stack area; false at the first bad group, out holding what came
// before it.
bool DecodeAllQuads(const uint8* inverse, const uint8* data, size_t quads, Base64Coder::Buffer& out, size_t& readPos)
{
	uint8 block[kGroupsPerBlock * 3];
	while (quads > 0)
	{
		const size_t now = quads < kGroupsPerBlock ? quads : kGroupsPerBlock;
		size_t read = 0, written = 0;
		const bool whole = Base64Coder::_DecodeQuads(inverse, data + readPos, now, block, read, written);
		readPos += read;
		if (!out.AddData(block, written))
			return false;
		if (!whole)
			return false;
		quads -= now;
	}
	return true;
}

}  // namespace


const std::array<uint8, 256> Base64Coder::sBase64Inverse = MakeInverse<0>(sBase64Alphabet, "");
const std::array<uint8, 256 + 4> Base64Coder::sBase64URLInverse = MakeInverse<4>(sBase64URLAlphabet, " \t\r\n");

bool Base64Coder::_Encode(const void* data, size_t size, Buffer& out, int lineLength, bool url)
{
	Empty(out);
	if (size == 0)
		return true;
	if (data == nullptr)
		return false;

	const size_t groups = size / 3 + (size % 3 != 0 ? 1 : 0);
	const bool breakLines = !url && lineLength >= 1;
	if (groups > std::numeric_limits<size_t>::max() / 8)
		return false;
	const size_t length = 4 * groups + (breakLines ? 2 * (groups / size_t(lineLength)) : 0);
	if (!out._EnlargeAmortized(length))
		return false;

	const char* alphabet = url ? sBase64URLAlphabet : sBase64Alphabet;
	const uint8* in = static_cast<const uint8*>(data);
	const size_t fullGroups = size / 3;
	// Room for a block's groups and one line break after each.
	uint8 block[kGroupsPerBlock * 6];
	size_t group = 0;
	size_t sinceBreak = 0;
	while (group < fullGroups)
	{
		const size_t end = fullGroups - group < kGroupsPerBlock ? fullGroups : group + kGroupsPerBlock;
		uint8* w = block;
		for (; group < end; ++group, in += 3)
		{
			const uint32 bits = (uint32(in[0]) << 16) | (uint32(in[1]) << 8) | in[2];
			w[0] = uint8(alphabet[bits >> 18]);
			w[1] = uint8(alphabet[(bits >> 12) & 0x3F]);
			w[2] = uint8(alphabet[(bits >> 6) & 0x3F]);
			w[3] = uint8(alphabet[bits & 0x3F]);
			w += 4;
			if (breakLines && ++sinceBreak == size_t(lineLength) && group + 1 < groups)
			{
				w[0] = '\r';
				w[1] = '\n';
				w += 2;
				sinceBreak = 0;
			}
		}
		if (!out.AddData(block, uint64(w - block)))
			return false;
	}

	const size_t left = size - 3 * fullGroups;
	if (left > 0)
	{
		uint8 tail[4];
		const uint32 bits = (uint32(in[0]) << 16) | (left == 2 ? uint32(in[1]) << 8 : 0);
		tail[0] = uint8(alphabet[bits >> 18]);
		tail[1] = uint8(alphabet[(bits >> 12) & 0x3F]);
		size_t n = 2;
		if (left == 2)
			tail[n++] = uint8(alphabet[(bits >> 6) & 0x3F]);
		if (!url)
			while (n < 4)
				tail[n++] = '=';
		if (!out.AddData(tail, n))
			return false;
	}
	return true;
}

bool Base64Coder::_DecodeQuads(const uint8* inverse, const uint8* data, size_t quads, uint8* out, size_t& readPos, size_t& writePos)
{
	const uint8* in = data + readPos;
	uint8* w = out + writePos;
	for (size_t q = 0; q < quads; ++q, in += 4, w += 3)
	{
		const uint32 a = inverse[in[0]], b = inverse[in[1]], c = inverse[in[2]], d = inverse[in[3]];
		// Every value of the alphabet is below 64, so a byte outside it shows in the top bits.
		if (((a | b | c | d) & 0xC0) != 0)
		{
			readPos = size_t(in - data);
			writePos = size_t(w - out);
			return false;
		}
		const uint32 bits = (a << 18) | (b << 12) | (c << 6) | d;
		w[0] = uint8(bits >> 16);
		w[1] = uint8(bits >> 8);
		w[2] = uint8(bits);
	}
	readPos = size_t(in - data);
	writePos = size_t(w - out);
	return true;
}

bool Base64Coder::_DecodeBase64(const uint8* data, size_t size, Buffer& out)
{
	Empty(out);
	if (size == 0)
		return true;
	if (data == nullptr)
		return false;

	std::unique_ptr<uint8[]> compact;
	if (HoldsBlank(data, size))
	{
		compact.reset(new (std::nothrow) uint8[size]);
		if (compact == nullptr)
		{
			_ThrowError(VE_MEMORY_FULL);
			return false;
		}
		size_t kept = 0;
		for (size_t i = 0; i < size; ++i)
			if (!IsBlank(data[i]))
				compact[kept++] = data[i];
		data = compact.get();
		size = kept;
		if (size == 0)
			return true;
	}
	if (size % 4 != 0)
		return false;
	if (!out._EnlargeAmortized((size / 4) * 3 + 1))
		return false;

	size_t readPos = 0;
	if (!DecodeAllQuads(sBase64Inverse.data(), data, size / 4 - 1, out, readPos))
		return false;

	const uint8* last = data + readPos;
	const uint8 a = sBase64Inverse[last[0]], b = sBase64Inverse[last[1]];
	const uint8 c = sBase64Inverse[last[2]], d = sBase64Inverse[last[3]];
	if (a == kBad || b == kBad)
		return false;
	uint8 bytes[3];
	size_t n;
	if (c != kBad && d != kBad)
	{
		bytes[0] = uint8((a << 2) | (b >> 4));
		bytes[1] = uint8((b << 4) | (c >> 2));
		bytes[2] = uint8((c << 6) | d);
		n = 3;
	}
	else if (c != kBad && last[3] == '=')
	{
		if ((c & 0x03) != 0)
			return false;
		bytes[0] = uint8((a << 2) | (b >> 4));
		bytes[1] = uint8((b << 4) | (c >> 2));
		n = 2;
	}
	else if (last[2] == '=' && last[3] == '=')
	{
		if ((b & 0x0F) != 0)
			return false;
		bytes[0] = uint8((a << 2) | (b >> 4));
		n = 1;
	}
	else
		return false;
	return out.AddData(bytes, n);
}

bool Base64Coder::_DecodeBase64URL(const uint8* data, size_t size, Buffer& out)
{
	Empty(out);
	if (size == 0)
		return true;
	if (data == nullptr)
		return false;
	if (!out._EnlargeAmortized((size / 4) * 3 + 4))
		return false;

	size_t readPos = 0;
	if (!DecodeAllQuads(sBase64URLInverse.data(), data, size / 4, out, readPos))
		return false;

	const size_t left = size - readPos;
	if (left == 0)
		return true;
	if (left == 1)
		return false;
	const uint8* tail = data + readPos;
	const uint8 a = sBase64URLInverse[tail[0]], b = sBase64URLInverse[tail[1]];
	const uint8 c = left == 3 ? sBase64URLInverse[tail[2]] : 0;
	if (a == kBad || b == kBad || c == kBad)
		return false;
	uint8 bytes[2];
	bytes[0] = uint8((a << 2) | (b >> 4));
	if (left == 2)
		return (b & 0x0F) == 0 && out.AddData(bytes, 1);
	if ((c & 0x03) != 0)
		return false;
	bytes[1] = uint8((b << 4) | (c >> 2));
	return out.AddData(bytes, 2);
}

bool Base64Coder::Decode(const void* data, size_t size, Buffer& out, bool url, bool keepPartial)
{
	const uint8* bytes = static_cast<const uint8*>(data);
	const bool decoded = url ? _DecodeBase64URL(bytes, size, out) : _DecodeBase64(bytes, size, out);
	if (!decoded && !keepPartial)
		Empty(out);
	return decoded;
}

void Base64Coder::DO_EncodeChecksumBase64(const uint8* data, size_t size, VString& out)
{
	out.Clear();
	Buffer encoded;
	if (!_Encode(data, size, encoded, 0, false) || encoded.GetDataSize() == 0)
		return;
	if (encoded.GetDataSize() > uint64(std::numeric_limits<int32>::max()))
		return;
	const int32 length = int32(encoded.GetDataSize());
	UniChar* units = out.GetCPointerForWrite(length);
	if (units == nullptr)
		return;
	const uint8* text = encoded.GetDataPtr();
	for (int32 i = 0; i < length; ++i)
		units[i] = text[i];
	out.Validate(length);
}

bool Base64Coder::DO_EncodeChecksumHexa(const uint8* data, size_t size, VString& out)
{
	out.Clear();
	if (size >= (size_t(1) << 31) || size * 2 > size_t(std::numeric_limits<int32>::max()) || (data == nullptr && size != 0))
		return false;
	const int32 length = int32(size * 2);
	UniChar* units = out.GetCPointerForWrite(length);
	if (units == nullptr)
	{
		out.Clear();
		return false;
	}
	static constexpr char kDigits[] = "0123456789abcdef";
	for (size_t i = 0; i < size; ++i)
	{
		units[2 * i] = UniChar(kDigits[data[i] >> 4]);
		units[2 * i + 1] = UniChar(kDigits[data[i] & 0x0F]);
	}
	out.Validate(length);
	return true;
}

}  // namespace velk
