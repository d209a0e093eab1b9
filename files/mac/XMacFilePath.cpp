#include "files/mac/XMacFilePath.h"

#include <cstring>
#include <string>
#include <utility>

#include "files/VFilePath.h"
#include "kernel/intl/VUTFCodec.h"
#include "kernel/strings/VString.h"

namespace velk {

const UniChar XMacFilePath::kRootVolumeName[] = u"Root";

namespace {

constexpr int32 kRootLength = int32(sizeof(XMacFilePath::kRootVolumeName) / sizeof(UniChar)) - 1;

}  // namespace

bool XMacFilePath::PosixFullPathToHFS(const char* posixPath, bool, VString& out)
{
	if (posixPath == nullptr)
		return false;
	std::u16string units;
	if (!FromStrictUTF8(posixPath, std::strlen(posixPath), units))
		return false;
	return PosixFullPathToHFS(units.data(), int32(units.size()), out);
}

bool XMacFilePath::PosixFullPathToHFS(const UniChar* units, int32 count, VString& out)
{
	if (units == nullptr || count < 1 || units[0] != u'/' || !IsWellFormedUTF16(units, count))
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
	if (!IsWellFormedUTF16(units, count))
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

bool XMacFilePath::ToSystemPath(const VString& posixPath, std::string& out)
{
	out = to_string(posixPath);
	return !out.empty() || posixPath.IsEmpty();
}

std::string XMacFilePath::ToSystemPath(const VFilePath& path)
{
	VString text;
	path.GetPosixPath(text);
	return to_string(text);
}

std::string XMacFilePath::ToSystemFolderPath(const VFilePath& path)
{
	if (!path.IsValid())
		return std::string();
	std::string text = ToSystemPath(path);
	while (text.size() > 1 && text.back() == '/')
		text.pop_back();
	return text;
}

}  // namespace velk
