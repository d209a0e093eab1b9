#include "platform/ProcFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

namespace plat {

namespace {

// The value of the first "key<blanks>:<value>" line of text, trimmed; false when there is none.
bool FindColonField(const std::string& text, const char* key, std::string& value)
{
	const size_t keyLength = std::strlen(key);
	size_t start = 0;
	while (start < text.size())
	{
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		const std::string line = text.substr(start, end - start);
		const size_t colon = line.find(':');
		if (colon != std::string::npos && TrimBlanks(line.substr(0, colon)) == std::string(key, keyLength))
		{
			value = TrimBlanks(line.substr(colon + 1));
			return true;
		}
		start = end + 1;
	}
	return false;
}

// Numbers listed as "0-3,8,10-11" (the kernel's CPU lists).
std::set<long> ParseCPUList(const std::string& text)
{
	std::set<long> numbers;
	const char* p = text.c_str();
	while (*p != 0)
	{
		char* end = nullptr;
		const long first = std::strtol(p, &end, 10);
		if (end == p)
			break;
		long last = first;
		p = end;
		if (*p == '-')
		{
			last = std::strtol(p + 1, &end, 10);
			p = end;
		}
		for (long n = first; n <= last && n - first < 65536; ++n)
			numbers.insert(n);
		if (*p != ',')
			break;
		++p;
	}
	return numbers;
}

bool ReadNumber(const std::string& path, long& value)
{
	const std::string text = ReadTextFile(path, 64);
	char* end = nullptr;
	value = std::strtol(text.c_str(), &end, 10);
	return end != text.c_str();
}

}  // namespace

std::string TrimBlanks(const std::string& text)
{
	const char* blanks = " \t\r\n";
	const size_t first = text.find_first_not_of(blanks);
	if (first == std::string::npos)
		return std::string();
	return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::vector<std::string> SplitLines(const std::string& text)
{
	std::vector<std::string> lines;
	for (size_t start = 0; start < text.size();)
	{
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		lines.push_back(text.substr(start, end - start));
		start = end + 1;
	}
	return lines;
}

bool FindLineValue(const std::string& text, const char* prefix, std::string& value)
{
	const size_t prefixLength = std::strlen(prefix);
	for (const std::string& line : SplitLines(text))
	{
		if (line.compare(0, prefixLength, prefix) == 0)
		{
			value = TrimBlanks(line.substr(prefixLength));
			return true;
		}
	}
	return false;
}

std::string JoinRoot(const std::string& root, const char* path)
{
	if (!root.empty() && root.back() == '/')
		return root.substr(0, root.size() - 1) + path;
	return root + path;
}

std::string ReadTextFile(const std::string& path, size_t limit)
{
	// Without blocking: a pipe or device named here reads as empty rather than holding the caller.
	const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0)
		return std::string();
	struct stat status;
	if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
	{
		::close(fd);
		return std::string();
	}
	std::string text;
	char buffer[4096];
	while (text.size() < limit)
	{
		const ssize_t count = ::read(fd, buffer, std::min(sizeof(buffer), limit - text.size()));
		if (count < 0 && errno == EINTR)
			continue;
		if (count <= 0)
			break;
		text.append(buffer, size_t(count));
	}
	::close(fd);
	return text;
}

std::string ReadProductName(const std::string& root)
{
	return TrimBlanks(ReadTextFile(JoinRoot(root, "/sys/class/dmi/id/product_name"), 256));
}

bool ReadProcessorModel(const std::string& root, std::string& model)
{
	std::string value;
	if (!FindColonField(ReadTextFile(JoinRoot(root, "/proc/cpuinfo")), "model name", value) || value.empty())
		return false;
	model = value;
	return true;
}

int32_t CountPhysicalCores(const std::string& root, bool onlineOnly)
{
	const std::string folder = JoinRoot(root, "/sys/devices/system/cpu");
	std::set<long> online;
	if (onlineOnly)
		online = ParseCPUList(ReadTextFile(folder + "/online", 4096));
	DIR* directory = ::opendir(folder.c_str());
	if (directory == nullptr)
		return 0;
	std::set<std::pair<long, long>> cores;
	while (const dirent* entry = ::readdir(directory))
	{
		const char* name = entry->d_name;
		if (std::strncmp(name, "cpu", 3) != 0 || name[3] < '0' || name[3] > '9')
			continue;
		char* end = nullptr;
		const long number = std::strtol(name + 3, &end, 10);
		if (*end != 0 || (onlineOnly && online.count(number) == 0))
			continue;
		const std::string topology = folder + "/" + name + "/topology/";
		long package = 0, core = 0;
		if (ReadNumber(topology + "physical_package_id", package) && ReadNumber(topology + "core_id", core))
			cores.insert({package, core});
	}
	::closedir(directory);
	return int32_t(cores.size());
}

uint64_t ReadMemInfoBytes(const std::string& root, const char* key)
{
	std::string value;
	if (!FindColonField(ReadTextFile(JoinRoot(root, "/proc/meminfo")), key, value))
		return 0;
	char* end = nullptr;
	const unsigned long long kilobytes = std::strtoull(value.c_str(), &end, 10);
	if (end == value.c_str())
		return 0;
	return uint64_t(kilobytes) * 1024;
}

bool ReadOwnMemoryPages(const std::string& root, uint64_t& sizePages, uint64_t& residentPages)
{
	const std::string text = ReadTextFile(JoinRoot(root, "/proc/self/statm"), 256);
	unsigned long long size = 0, resident = 0;
	if (std::sscanf(text.c_str(), "%llu %llu", &size, &resident) != 2)
		return false;
	sizePages = size;
	residentPages = resident;
	return true;
}

bool QueryOwnMapping(const std::string& root, uintptr_t address, uintptr_t& base, size_t& size, bool& isFree)
{
	base = 0;
	size = 0;
	isFree = false;
	const std::string text = ReadTextFile(JoinRoot(root, "/proc/self/maps"), size_t(64) << 20);
	size_t start = 0;
	while (start < text.size())
	{
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		unsigned long long first = 0, last = 0;
		if (std::sscanf(text.c_str() + start, "%llx-%llx", &first, &last) == 2 && last > address)
		{
			if (first > address)
			{
				base = address;
				size = size_t(first - address);
				isFree = true;
			}
			else
			{
				base = uintptr_t(first);
				size = size_t(last - first);
			}
			return true;
		}
		start = end + 1;
	}
	return false;
}

bool HasTracer(const std::string& root)
{
	std::string value;
	return FindColonField(ReadTextFile(JoinRoot(root, "/proc/self/status")), "TracerPid", value) && !value.empty() && value != "0";
}

std::string ReadPrettyHostName(const std::string& root)
{
	const std::string text = ReadTextFile(JoinRoot(root, "/etc/machine-info"), 65536);
	size_t start = 0;
	while (start < text.size())
	{
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		const std::string line = TrimBlanks(text.substr(start, end - start));
		static const char kKey[] = "PRETTY_HOSTNAME=";
		if (line.compare(0, sizeof(kKey) - 1, kKey) == 0)
		{
			// Shell-style value: quotes removed, a backslash keeps the character after it.
			std::string value;
			char quote = 0;
			for (size_t i = sizeof(kKey) - 1; i < line.size(); ++i)
			{
				const char c = line[i];
				if (quote == 0 && (c == '"' || c == '\''))
					quote = c;
				else if (c == quote)
					quote = 0;
				else if (c == '\\' && quote != '\'' && i + 1 < line.size())
					value += line[++i];
				else
					value += c;
			}
			return value;
		}
		start = end + 1;
	}
	return std::string();
}

}  // namespace plat
