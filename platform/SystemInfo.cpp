#include "platform/SystemInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

namespace plat {

std::string GetKernelRelease()
{
	utsname names {};
	if (::uname(&names) != 0)
		return std::string();
	return std::string(names.release);
}

namespace {

// Reads one decimal part at text, moving past it; false when no digit is there.
bool ReadPart(const char*& text, uint32_t limit, uint32_t& part)
{
	if (*text < '0' || *text > '9')
		return false;
	uint64_t value = 0;
	while (*text >= '0' && *text <= '9')
	{
		if (value <= UINT32_MAX)
			value = value * 10 + uint64_t(*text - '0');
		++text;
	}
	part = value > limit ? limit : uint32_t(value);
	return true;
}

}  // namespace

const std::string& GetOSVersionText()
{
	static const std::string text = []
	{
		std::string release = GetKernelRelease();
		return release.empty() ? std::string("Linux") : "Linux " + release;
	}();
	return text;
}

uint32_t GetOSVersionDecimal()
{
	static const uint32_t decimal = ParseVersionDecimal(GetKernelRelease().c_str());
	return decimal;
}

uint32_t ParseVersionDecimal(const char* release)
{
	if (release == nullptr)
		return 0;
	const char* text = release;
	uint32_t major = 0, minor = 0, patch = 0;
	if (!ReadPart(text, UINT32_MAX, major) || major > 999)
		return 0;
	if (*text == '.' && (++text, ReadPart(text, 99, minor)) && *text == '.')
	{
		++text;
		ReadPart(text, 99, patch);
	}
	return major * 10000 + minor * 100 + patch;
}

int32_t GetLogicalProcessorCount()
{
	static const int32_t count = []
	{
		long configured = ::sysconf(_SC_NPROCESSORS_CONF);
		return configured < 2 ? int32_t(1) : int32_t(configured > INT32_MAX ? INT32_MAX : configured);
	}();
	return count;
}

void SplitKernelRelease(const std::string& release, std::string& numbers, std::string& build)
{
	numbers.clear();
	build.clear();
	if (release.empty() || release[0] < '0' || release[0] > '9')
		return;
	size_t end = 0;
	while (end < release.size() && ((release[end] >= '0' && release[end] <= '9') || (release[end] == '.' && end + 1 < release.size()
		&& release[end + 1] >= '0' && release[end + 1] <= '9')))
		++end;
	numbers = release.substr(0, end);
	if (end < release.size() && (release[end] == '-' || release[end] == '.'))
		++end;
	build = release.substr(end);
}

}  // namespace plat
