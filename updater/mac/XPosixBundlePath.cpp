#include "updater/mac/XPosixBundlePath.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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

VString FromUTF8(std::string text)
{
	if (text.empty())
		return VString();
	if (text.back() != '/')
		text += '/';
	VString result;
	result.FromBlock(text.data(), text.size(), kCharSet_UTF8);
	return result;
}

// "folder" and "name" of a path without trailing slashes.
void SplitLast(const std::string& path, std::string& folder, std::string& name)
{
	const size_t slash = path.rfind('/');
	folder = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
	name = slash == std::string::npos ? path : path.substr(slash + 1);
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

namespace velk {

VString XPosixBundlePath::GetLinkedPlace(const VFilePath& path)
{
	constexpr int kMostLinks = 40;  // as the system allows in one lookup
	try
	{
		std::string current = XMacFilePath::ToSystemFolderPath(path);
		while (current.size() > 1 && current.back() == '/')
			current.pop_back();
		for (int hops = 0; !current.empty() && hops <= kMostLinks; ++hops)
		{
			struct stat entry;
			if (::lstat(current.c_str(), &entry) != 0)
				return hops > 0 && errno == ENOENT ? FromUTF8(current) : VString();
			if (!S_ISLNK(entry.st_mode))
				return hops > 0 && S_ISDIR(entry.st_mode) ? FromUTF8(Resolved(current)) : VString();
			std::string target(size_t(entry.st_size > 0 ? entry.st_size : 4096) + 1, '\0');
			const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
			if (length <= 0 || size_t(length) >= target.size())
				return VString();
			target.resize(size_t(length));
			std::string folder;
			std::string name;
			SplitLast(current, folder, name);
			if (target[0] != '/')
				target = folder + "/" + target;
			while (target.size() > 1 && target.back() == '/')
				target.pop_back();
			SplitLast(target, folder, name);
			if (name == "." || name == "..")
				return GetLinkedFolder(path);
			const std::string resolvedFolder = Resolved(folder);
			if (resolvedFolder.empty())
				return VString();
			current = resolvedFolder == "/" ? "/" + name : resolvedFolder + "/" + name;
		}
		return VString();
	}
	catch (const std::bad_alloc&)
	{
		return VString();
	}
}

}  // namespace velk
