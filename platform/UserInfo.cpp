#include "platform/UserInfo.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/ProcFiles.h"

namespace plat {

namespace {

// The effective user's entry, its strings held in buffer.
bool LookUpUser(passwd& entry, std::vector<char>& buffer)
{
	long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
	buffer.resize(size > 0 ? size_t(size) : 16384);
	passwd* found = nullptr;
	while (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (size_t(1) << 20))
		buffer.resize(buffer.size() * 2);
	return found != nullptr;
}

}  // namespace

bool GetUserAccountName(std::string& name)
{
	passwd entry {};
	std::vector<char> buffer;
	if (!LookUpUser(entry, buffer) || entry.pw_name == nullptr)
		return false;
	name = entry.pw_name;
	return true;
}

bool GetUserFullName(std::string& name)
{
	passwd entry {};
	std::vector<char> buffer;
	if (!LookUpUser(entry, buffer))
		return false;
	std::string full = entry.pw_gecos != nullptr ? entry.pw_gecos : "";
	full = full.substr(0, full.find(','));
	if (full.empty() && entry.pw_name != nullptr)
		full = entry.pw_name;
	name = full;
	return true;
}

bool GetHostDisplayName(const std::string& root, std::string& name)
{
	std::string pretty = ReadPrettyHostName(root);
	if (!pretty.empty())
	{
		name = pretty;
		return true;
	}
	char host[HOST_NAME_MAX + 1] = {};
	if (::gethostname(host, sizeof(host) - 1) != 0 || host[0] == 0)
		return false;
	name = host;
	return true;
}

}  // namespace plat
