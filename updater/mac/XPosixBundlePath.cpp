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
		const std::string containerPath = XMacFilePath::ToSystemFolderPath(container);
		struct stat target;
		if (containerPath.empty() || ::stat(containerPath.c_str(), &target) != 0)
			return false;
		// Each ancestor of a resolved path is a real folder, so walking its text upwards walks the folders.
		std::string walked = Resolved(XMacFilePath::ToSystemFolderPath(folder));
		while (!walked.empty())
		{
			struct stat status;
			if (::stat(walked.c_str(), &status) == 0 && status.st_dev == target.st_dev && status.st_ino == target.st_ino)
				return true;
			if (walked == "/")
				break;
			const size_t slash = walked.rfind('/');
			walked.erase(slash == 0 ? 1 : slash);
		}
		return false;
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
