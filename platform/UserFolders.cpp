#include "platform/UserFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/ProcFiles.h"

namespace plat {

namespace {

std::string WithoutTrailingSlashes(std::string path)
{
	while (path.size() > 1 && path.back() == '/')
		path.pop_back();
	return path;
}

// The variable's value when it is an absolute path; the XDG rules ignore relative ones.
bool AbsoluteVariable(const char* name, std::string& value)
{
	const char* text = getenv(name);
	if (text == nullptr || text[0] != '/')
		return false;
	value = WithoutTrailingSlashes(text);
	return true;
}

// The variable's folder (when variable is not null and set), else the named folder in the home folder.
bool UnderHome(const char* variable, const char* defaultName, std::string& path)
{
	if (variable != nullptr && AbsoluteVariable(variable, path))
		return true;
	std::string home;
	if (!GetHomeFolder(home))
		return false;
	path = (home == "/" ? std::string() : home) + "/" + defaultName;
	return true;
}

// The value of key in user-dirs.dirs: lines key="value", where the value is "$HOME" followed by a path or
// an absolute path, with '\' escaping the next character. False when the key is not set usably.
bool ReadUserDirsValue(const char* key, std::string& path)
{
	std::string configHome;
	if (!UnderHome("XDG_CONFIG_HOME", ".config", configHome))
		return false;
	const std::string text = ReadTextFile(configHome + "/user-dirs.dirs");
	const size_t keyLength = std::strlen(key);
	bool found = false;
	size_t start = 0;
	while (start < text.size())
	{
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		size_t p = text.find_first_not_of(" \t", start);
		start = end + 1;
		if (p == std::string::npos || p >= end || text.compare(p, keyLength, key) != 0)
			continue;
		p = text.find_first_not_of(" \t", p + keyLength);
		if (p == std::string::npos || p >= end || text[p] != '=')
			continue;
		p = text.find_first_not_of(" \t", p + 1);
		if (p == std::string::npos || p >= end || text[p] != '"')
			continue;
		++p;
		std::string value;
		if (text.compare(p, 5, "$HOME") == 0 && (p + 5 == end || text[p + 5] == '/' || text[p + 5] == '"'))
		{
			std::string home;
			if (!GetHomeFolder(home))
				continue;
			value = home == "/" ? std::string() : home;
			p += 5;
		}
		else if (p >= end || text[p] != '/')
			continue;
		for (; p < end && text[p] != '"'; ++p)
		{
			if (text[p] == '\\' && p + 1 < end)
				++p;
			value += text[p];
		}
		// The last setting of the key wins, as when the file is sourced by a shell.
		path = value.empty() ? std::string("/") : WithoutTrailingSlashes(value);
		found = true;
	}
	return found;
}

bool ExecutableFolder(std::string& path)
{
	char buffer[PATH_MAX];
	const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
	if (length <= 0)
		return false;
	const std::string executable(buffer, size_t(length));
	const size_t slash = executable.rfind('/');
	if (slash == std::string::npos)
		return false;
	path = slash == 0 ? std::string("/") : executable.substr(0, slash);
	return true;
}

bool FirstDataDir(std::string& path)
{
	const char* list = getenv("XDG_DATA_DIRS");
	std::string text = list != nullptr ? list : "";
	size_t start = 0;
	while (start <= text.size())
	{
		size_t end = text.find(':', start);
		if (end == std::string::npos)
			end = text.size();
		if (end > start && text[start] == '/')
		{
			path = WithoutTrailingSlashes(text.substr(start, end - start));
			return true;
		}
		start = end + 1;
	}
	path = "/usr/local/share";
	return true;
}

// Makes every missing folder of path with mode (the umask applies, as for mkdir -p).
int MakeFolders(const std::string& path, mode_t mode)
{
	struct stat status;
	if (stat(path.c_str(), &status) == 0)
		return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
	if (errno != ENOENT)
		return errno;
	const size_t slash = path.rfind('/');
	if (slash != std::string::npos && slash > 0)
	{
		if (int error = MakeFolders(path.substr(0, slash), mode))
			return error;
	}
	if (mkdir(path.c_str(), mode) == 0)
		return 0;
	// Made meanwhile by someone else: fine when it is a folder.
	if (errno == EEXIST)
		return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
	return errno;
}

int FindSystemFolder(int kind, bool create, std::string& path)
{
	std::string found;
	bool known = false;
	bool usersOwn = true;
	switch (kind)
	{
	case 0:
		known = ExecutableFolder(found);
		usersOwn = false;
		break;
	case 1:
		known = ReadUserDirsValue("XDG_DOCUMENTS_DIR", found) || UnderHome(nullptr, "Documents", found);
		break;
	case 2:
		if (!AbsoluteVariable("TMPDIR", found))
			found = "/tmp";
		known = true;
		usersOwn = false;
		break;
	case 4:
	case 6:
		known = FirstDataDir(found);
		usersOwn = false;
		break;
	case 5:
	case 7:
	case 12:
		known = UnderHome("XDG_DATA_HOME", ".local/share", found);
		break;
	case 8:
		known = ReadUserDirsValue("XDG_DESKTOP_DIR", found) || UnderHome(nullptr, "Desktop", found);
		break;
	case 9:
		found = "/Applications";
		known = true;
		usersOwn = false;
		break;
	case 10:
		found = "/var/cache";
		known = true;
		usersOwn = false;
		break;
	case 11:
		known = UnderHome("XDG_CACHE_HOME", ".cache", found);
		break;
	case 13:
		known = GetHomeFolder(found);
		break;
	default:
		path.clear();
		return 0;
	}
	if (!known)
		return ENOENT;
	if (create)
	{
		if (int error = MakeFolders(found, usersOwn ? 0700 : 0755))
			return error;
	}
	path = found;
	return 0;
}

}  // namespace

bool GetHomeFolder(std::string& path)
{
	try
	{
		if (AbsoluteVariable("HOME", path))
			return true;
		long size = sysconf(_SC_GETPW_R_SIZE_MAX);
		std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
		struct passwd entry;
		struct passwd* result = nullptr;
		if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || result == nullptr ||
			result->pw_dir == nullptr || result->pw_dir[0] != '/')
			return false;
		path = WithoutTrailingSlashes(result->pw_dir);
		return true;
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
}

int GetSystemFolder(int kind, bool create, std::string& path)
{
	try
	{
		return FindSystemFolder(kind, create, path);
	}
	catch (const std::bad_alloc&)
	{
		return ENOMEM;
	}
}

}  // namespace plat
