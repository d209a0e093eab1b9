#include "updater/mac/XMacBundle.h"

#include <new>
#include <string>

#include "files/VFilePath.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "platform/Bundle.h"
#include "files/mac/XMacFilePath.h"

namespace velk {

namespace {

VString FromSystemPath(const std::string& path)
{
	VString text;
	text.FromBlock(path.data(), path.size(), kCharSet_UTF8);
	return text;
}

// What the bundle's reader answers for the place's name; "" for an invalid path and when memory is short.
template <class Answer>
VString AskBundle(const VFilePath& bundle, const VFilePath& place, Answer answer)
{
	const std::string folder = XMacFilePath::ToSystemFolderPath(bundle);
	const std::string placeFolder = XMacFilePath::ToSystemFolderPath(place);
	if (folder.empty() || placeFolder.empty())
		return VString();
	try
	{
		return FromSystemPath(answer(plat::Bundle(folder), placeFolder));
	}
	catch (const std::bad_alloc&)
	{
		return VString();
	}
}

}  // namespace

VString XMacBundle::GetExecutablePosixPath(const VFilePath& bundle, const VFilePath& place)
{
	return AskBundle(bundle, place,
		[](const plat::Bundle& reader, const std::string& at) { return reader.GetExecutablePath(at); });
}

VString XMacBundle::GetExpectedExecutablePosixPath(const VFilePath& bundle, const VFilePath& place)
{
	return AskBundle(bundle, place,
		[](const plat::Bundle& reader, const std::string& at) { return reader.GetExpectedExecutablePath(at); });
}

}  // namespace velk
