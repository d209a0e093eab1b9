#include "updater/mac/XPosixBundlePath.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <new>
#include <string>

#include "files/VFilePath.h"
#include "files/mac/XMacFilePath.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "platform/TreeCopy.h"

namespace velk {

namespace {

// The path with every link and "." or ".." resolved; "" when it cannot be.
std::string Resolved(const std::string& path)
{
	char* resolved = ::realpath(path.c_str(), nullptr);
	if (resolved == nullptr)
		return std::string();
	std::string text(resolved);
	::free(resolved);
	return text;
}

}  // namespace

bool XPosixBundlePath::IsSameOrInside(const VFilePath& folder, const VFilePath& container)
{
	try
	{
		const std::string folderPath = XMacFilePath::ToSystemFolderPath(folder);
		const std::string containerPath = XMacFilePath::ToSystemFolderPath(container);
		// A bundle that cannot be reached lies nowhere: only folders that stand are compared.
		struct stat status;
		return !folderPath.empty() && !containerPath.empty() && ::stat(folderPath.c_str(), &status) == 0 &&
			plat::IsSameOrInsideFolder(folderPath.c_str(), containerPath.c_str());
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
}

VString XPosixBundlePath::GetLinkedFolder(const VFilePath& path)
{
	try
	{
		const std::string system = XMacFilePath::ToSystemFolderPath(path);
		struct stat entry;
		struct stat target;
		if (system.empty() || ::lstat(system.c_str(), &entry) != 0 || !S_ISLNK(entry.st_mode) ||
			::stat(system.c_str(), &target) != 0 || !S_ISDIR(target.st_mode))
			return VString();
		std::string resolved = Resolved(system);
		if (resolved.empty())
			return VString();
		if (resolved.back() != '/')
			resolved += '/';
		VString text;
		text.FromBlock(resolved.data(), resolved.size(), kCharSet_UTF8);
		return text;
	}
	catch (const std::bad_alloc&)
	{
		return VString();
	}
}

}  // namespace velk
