#include "platform/ExecutableSearch.h"

#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace plat {

bool IsExecutableFile(const std::string& path)
{
	struct stat info {};
	if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
		return false;
	if (info.st_uid == ::geteuid())
		return (info.st_mode & S_IXUSR) != 0;
	if (info.st_gid == ::getegid())
		return (info.st_mode & S_IXGRP) != 0;
	return (info.st_mode & S_IXOTH) != 0;
}

bool SearchExecutable(const std::string& name, const std::string& pathList, std::string& found)
{
	if (name.empty())
		return false;
	if (name.find('/') != std::string::npos)
	{
		char* real = ::realpath(name.c_str(), nullptr);
		if (real == nullptr)
			return false;
		const std::string resolved(real);
		std::free(real);
		if (!IsExecutableFile(resolved))
			return false;
		found = resolved;
		return true;
	}
	size_t start = 0;
	while (start <= pathList.size() && !pathList.empty())
	{
		size_t end = pathList.find(':', start);
		if (end == std::string::npos)
			end = pathList.size();
		std::string candidate = pathList.substr(start, end - start);
		start = end + 1;
		if (candidate.empty())
			continue;
		if (candidate.back() != '/')
			candidate += '/';
		candidate += name;
		// A cut candidate would name another file.
		if (candidate.size() >= PATH_MAX)
			continue;
		if (IsExecutableFile(candidate))
		{
			found = candidate;
			return true;
		}
	}
	return false;
}

bool SearchApplicationBundle(const std::string& name, const std::vector<std::string>& folders, std::string& found)
{
	if (name.empty() || name.find('/') != std::string::npos)
		return false;
	std::string bundle = name;
	if (bundle.size() < 4 || ::strcasecmp(bundle.c_str() + bundle.size() - 4, ".app") != 0)
		bundle += ".app";
	for (const std::string& folder : folders)
	{
		if (folder.empty())
			continue;
		std::string candidate = folder;
		if (candidate.back() != '/')
			candidate += '/';
		candidate += bundle;
		struct stat info {};
		if (::stat(candidate.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
		{
			found = candidate + "/";
			return true;
		}
	}
	return false;
}

}  // namespace plat
