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

bool IsPlainName(const std::string& name)
{
	return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

}  // namespace

VString XMacBundle::GetExecutablePosixPath(const VFilePath& bundle)
{
	const std::string folder = XMacFilePath::ToSystemFolderPath(bundle);
	if (folder.empty())
		return VString();
	try
	{
		return FromSystemPath(plat::Bundle(folder).GetExecutablePath());
	}
	catch (const std::bad_alloc&)
	{
		return VString();
	}
}

VString XMacBundle::GetExpectedExecutablePosixPath(const VFilePath& bundle)
{
	const std::string folder = XMacFilePath::ToSystemFolderPath(bundle);
	if (folder.empty())
		return VString();
	try
	{
		const plat::Bundle information(folder);
		std::string name;
		if (!information.GetInfoString("CFBundleExecutable", name) || !IsPlainName(name))
		{
			const size_t slash = folder.rfind('/');
			name = folder.substr(slash == std::string::npos ? 0 : slash + 1);
			const size_t dot = name.rfind('.');
			if (dot != std::string::npos && dot > 0)
				name.erase(dot);
		}
		return FromSystemPath(folder + "/Contents/MacOS/" + name);
	}
	catch (const std::bad_alloc&)
	{
		return VString();
	}
}

}  // namespace velk
