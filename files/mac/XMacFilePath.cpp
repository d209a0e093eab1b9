#include "files/mac/XMacFilePath.h"

#include <cstring>
#include <string>
#include <utility>

#include "kernel/strings/VString.h"

namespace velk {

const UniChar XMacFilePath::kRootVolumeName[] = u"Root";

namespace {

constexpr int32 kRootLength = int32(sizeof(XMacFilePath::kRootVolumeName) / sizeof(UniChar)) - 1;

bool IsHigh(UniChar unit)
{
	return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLow(UniChar unit)
{
	return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Every surrogate in its pair: only such text has a UTF-8 form to hand to the system.
bool IsWellFormed(const UniChar* units, int32 count)
{
	for (int32 i = 0; i < count; ++i)
	{
		if (IsHigh(units[i]))
		{
			if (i + 1 == count || !IsLow(units[i + 1]))
				return false;
			++i;
		}
		else if (IsLow(units[i]))
			return false;
	}
	return true;
}

// Strict UTF-8: a byte that cannot begin or continue a sequence, an overlong form, a surrogate or a value
// above U+10FFFF fails, since its file could then not be named again.
bool DecodeStrictUTF8(const unsigned char* bytes, size_t count, std::u16string& out)
{
	out.clear();
	out.reserve(count);
	size_t i = 0;
	while (i < count)
	{
		const unsigned char lead = bytes[i];
		if (lead < 0x80)
		{
			out.push_back(char16_t(lead));
			++i;
			continue;
		}
		int extra;
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
			return false;
		if (count - i <= size_t(extra))
			return false;
		for (int k = 1; k <= extra; ++k)
		{
			const unsigned char next = bytes[i + size_t(k)];
			if ((next & 0xC0) != 0x80)
				return false;
			value = (value << 6) | (next & 0x3F);
		}
		if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
			return false;
		if (value >= 0x10000)
		{
			value -= 0x10000;
			out.push_back(char16_t(0xD800 + (value >> 10)));
			out.push_back(char16_t(0xDC00 + (value & 0x3FF)));
		}
		else
			out.push_back(char16_t(value));
		i += size_t(extra) + 1;
	}
	return true;
}

}  // namespace

bool XMacFilePath::PosixFullPathToHFS(const char* posixPath, bool, VString& out)
{
	if (posixPath == nullptr)
		return false;
	std::u16string units;
	if (!DecodeStrictUTF8(reinterpret_cast<const unsigned char*>(posixPath), std::strlen(posixPath), units))
		return false;
	return PosixFullPathToHFS(units.data(), int32(units.size()), out);
}

bool XMacFilePath::PosixFullPathToHFS(const UniChar* units, int32 count, VString& out)
{
	if (units == nullptr || count < 1 || units[0] != u'/' || !IsWellFormed(units, count))
		return false;

	// Every name gains at most one ':' and loses its '/'; a ".." step becomes one ':'.
	VString result;
	UniChar* dest = result.GetCPointerForWrite(kRootLength + count + 2);
	if (dest == nullptr)
		return false;
	int32 length = 0;
	for (int32 k = 0; k < kRootLength; ++k)
		dest[length++] = kRootVolumeName[k];
	dest[length++] = u':';

	// Written as folders; a last name that no '/' follows is a file and loses its ':'.
	bool endsInFolder = true;
	int32 i = 0;
	while (i < count)
	{
		while (i < count && units[i] == u'/')
			++i;
		if (i == count)
		{
			endsInFolder = true;
			break;
		}
		int32 end = i;
		while (end < count && units[end] != u'/')
			++end;
		const int32 size = end - i;
		if (size == 1 && units[i] == u'.')
			endsInFolder = true;
		else if (size == 2 && units[i] == u'.' && units[i + 1] == u'.')
		{
			dest[length++] = u':';
			endsInFolder = true;
		}
		else
		{
			for (int32 k = i; k < end; ++k)
				dest[length++] = (units[k] == u':') ? u'/' : units[k];
			dest[length++] = u':';
			endsInFolder = end < count;
		}
		i = end;
	}
	if (!endsInFolder)
		--length;
	result.Validate(length);
	out = std::move(result);
	return true;
}

bool XMacFilePath::HFSFullPathToPosix(const VString& native, VString& out)
{
	const UniChar* units = native.GetCPointer();
	const int32 count = native.GetLength();
	if (!IsWellFormed(units, count))
		return false;

	int32 colon = 0;
	while (colon < count && units[colon] != u':')
		++colon;
	const bool isRoot = colon == kRootLength && std::memcmp(units, kRootVolumeName, sizeof(UniChar) * size_t(kRootLength)) == 0;

	VString result;
	UniChar* dest = result.GetCPointerForWrite(count + 2);
	if (dest == nullptr)
		return false;
	int32 length = 0;
	dest[length++] = u'/';
	if (!isRoot && colon > 0)
	{
		for (int32 k = 0; k < colon; ++k)
			dest[length++] = units[k];
		dest[length++] = u'/';
	}
	for (int32 k = colon + 1; k < count; ++k)
	{
		const UniChar unit = units[k];
		dest[length++] = (unit == u':') ? u'/' : (unit == u'/') ? u':' : unit;
	}
	result.Validate(length);
	out = std::move(result);
	return true;
}

}  // namespace velk
