#include <gtest/gtest.h>

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "files/VSystem.h"
#include "files/mac/XBSDSystem.h"
#include "files/mac/XMacSystem.h"
#include "kernel/intl/VUTFCodec.h"
#include "kernel/strings/VString.h"
#include "platform/ScopedTimeZone.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorContext.h"

namespace velk {
namespace {

using Fields = std::array<int16, 7>;

// Puts the zone in place and makes the facade drop what it cached of the previous one.
class ScopedFacadeZone
{
public:
	explicit ScopedFacadeZone(const char* zone)
	{
		fZone.emplace(zone);
		VSystem::SystemDateTimeChanged();
	}

	~ScopedFacadeZone()
	{
		fZone.reset();
		VSystem::SystemDateTimeChanged();
	}

private:
	std::optional<ScopedTimeZone> fZone;
};

TEST(VSystemTest, NullTimesAreLeftAloneAndOtherYearZeroDatesConvert)
{
	ScopedFacadeZone zone(kZoneCentralEurope);
	const Fields nullTimes[] = {
		{ 0, 0, 0, 0, 0, 0, 0 },
		{ 0, 0, 5, 10, 0, 0, 7 },
		{ 0, 3, 5, 0, 0, 0, 7 },
		{ 0, 0, 5, 0, 30, 15, 7 },
	};
	for (const Fields& original : nullTimes)
	{
		Fields fields = original;
		VSystem::UTCToLocalTime(fields.data());
		EXPECT_EQ(fields, original);
		VSystem::LocalToUTCTime(fields.data());
		EXPECT_EQ(fields, original);
	}

	Fields fields = { 0, 3, 5, 10, 0, 0, 7 };
	VSystem::UTCToLocalTime(fields.data());
	EXPECT_EQ(fields, (Fields { 0, 3, 5, 11, 0, 0, 7 }));
	VSystem::LocalToUTCTime(fields.data());
	EXPECT_EQ(fields, (Fields { 0, 3, 5, 10, 0, 0, 7 }));
}

TEST(VSystemTest, GMTOffsetIsPositiveEastAndFollowsZoneChanges)
{
	struct Row
	{
		const char* zone;
		int32 withDaylight;
		int32 withoutDaylight;
	};
	const Row rows[] = {
		{ kZoneJapan, 32400, 32400 },
		{ "EST5", -18000, -18000 },
		{ "IST-5:30", 19800, 19800 },
		{ kZoneUTC, 0, 0 },
		// Daylight saving from the first to the last day of every year: in force but for an hour at the turn of
		// the year, when those rows are left out.
		{ "XST-1XDT,J1/0,J365/25", 7200, 3600 },
		{ "YST3YDT,J1/0,J365/25", -7200, -10800 },
		{ "LHST-10:30LHDT-11,J1/0,J365/25", 39600, 37800 },  // a 30-minute shift
		{ "TST0TDT-2,J1/0,J365/25", 7200, 0 },  // a 2-hour shift
	};
	Fields today {};
	VSystem::GetSystemUTCTime(today.data());
	bool turnOfTheYear = (today[1] == 12 && today[2] == 31) || (today[1] == 1 && today[2] == 1);
	for (const Row& row : rows)
	{
		if (turnOfTheYear && row.withDaylight != row.withoutDaylight)
			continue;
		ScopedFacadeZone zone(row.zone);
		SCOPED_TRACE(row.zone);
		EXPECT_EQ(VSystem::GetGMTOffset(true), row.withDaylight);
		EXPECT_EQ(VSystem::GetGMTOffset(false), row.withoutDaylight);
	}
}

TEST(VSystemTest, OSVersionIsTheKernelReleaseWithoutAMacPrefix)
{
	utsname names {};
	ASSERT_EQ(::uname(&names), 0);
	VString version;
	VSystem::GetOSVersionString(version);
	std::string text = ToUTF8String(version.GetCPointer(), version.GetLength());
	EXPECT_EQ(text, std::string("Linux ") + names.release);
	EXPECT_EQ(text.find("macOS"), std::string::npos);

	VString again(u"stale");
	VSystem::GetOSVersionString(again);
	EXPECT_TRUE(again.EqualToStringRaw(version));

	int32 decimal = XMacSystem::GetMacOSXVersionDecimal();
	int major = std::atoi(names.release);
	EXPECT_EQ(decimal / 10000, major);
	EXPECT_GT(decimal, 0);
}

TEST(VSystemTest, EveryRequiredSystemVersionIsMet)
{
	for (int32 version : { 0, 10, 11, 17, 20, 22, 23, 1000 })
		EXPECT_TRUE(VSystem::IsSystemVersionOrAbove(SystemVersion(version))) << version;
	EXPECT_GE(VSystem::GetNumberOfLogicalProcessors(), 1);
}

TEST(VSystemTest, VirtualMemoryRoundTripsThroughTheFacade)
{
	const size_t page = VSystem::GetVMPageSize();
	EXPECT_EQ(VSystem::RoundUpVMPageSize(page + 1), 2 * page);

	bool locked = false;
	char* physical = static_cast<char*>(VSystem::VirtualAllocPhysicalMemory(page + 1, nullptr, &locked));
	ASSERT_NE(physical, nullptr);
	physical[2 * page - 1] = 1;
	VSystem::VirtualFree(physical, page + 1, true);
	// Both pages were released: the same place can be taken again exactly.
	void* again = VSystem::VirtualAlloc(2 * page, physical);
	ASSERT_EQ(again, physical);
	EXPECT_EQ(physical[2 * page - 1], 0);

	EXPECT_EQ(VSystem::VirtualAlloc(page, physical + page), nullptr);
	VSystem::VirtualFree(again, 2 * page, false);
}

TEST(VSystemTest, RandomNumbersStayIn31BitsAndVary)
{
	std::vector<int32> secure;
	for (int i = 0; i < 64; ++i)
		secure.push_back(XMacSystem::Random(false));
	for (int32 value : secure)
		EXPECT_GE(value, 0);
	std::sort(secure.begin(), secure.end());
	EXPECT_GT(std::unique(secure.begin(), secure.end()) - secure.begin(), 60);

	::srandom(99);
	int32 first = XMacSystem::Random(true);
	::srandom(99);
	EXPECT_EQ(XMacSystem::Random(true), first);

	std::array<uint8, 32> a {}, b {};
	XMacSystem::Random(a.data(), a.size());
	XMacSystem::Random(b.data(), b.size());
	EXPECT_NE(a, b);
}

std::string UTF8(const VString& text)
{
	return ToUTF8String(text.GetCPointer(), text.GetLength());
}

// Facts of the running machine, checked against what the kernel says directly.
TEST(VSystemTest, MachineProcessAndUserFacts)
{
	utsname names {};
	ASSERT_EQ(::uname(&names), 0);
	VString text;
	VSystem::GetFullOSName(text);
	EXPECT_EQ(UTF8(text).rfind("Linux ", 0), 0u);
	// The build text after the release's numbers goes in parentheses: "6.1.0-18-amd64" gives "6.1.0 (18-amd64)".
	const std::string release = names.release;
	const size_t dash = release.find('-');
	if (dash != std::string::npos)
	{
		EXPECT_EQ(UTF8(text), "Linux " + release.substr(0, dash) + " (" + release.substr(dash + 1) + ")");
	}

	EXPECT_GE(VSystem::GetNumberOfPhysicalProcessors(), 1);
	EXPECT_LE(VSystem::GetNumberOfPhysicalProcessors(), VSystem::GetNumberOfLogicalProcessors());
	EXPECT_GE(VSystem::GetEnabledCoresNumber(), 1);
	VSystem::GetProcessorTypeString(text, true);
	EXPECT_FALSE(text.IsEmpty());
	EXPECT_EQ(UTF8(text).find("  "), std::string::npos);

	EXPECT_GT(VSystem::GetPhysicalMemSize(), VSystem::GetPhysicalFreeMemSize());
	EXPECT_GT(VSystem::GetApplicationPhysicalMemSize(), 0u);
	EXPECT_GE(VSystem::VirtualMemoryUsedSize(), VSystem::GetApplicationPhysicalMemSize());
	EXPECT_GE(VSystem::GetUptime(), 0);

	// A stack address lies in a mapping that holds it.
	int local = 0;
	size_t size = 0;
	bool isFree = true;
	void* base = nullptr;
	ASSERT_TRUE(VSystem::VirtualQuery(&local, &size, &isFree, &base));
	EXPECT_FALSE(isFree);
	EXPECT_LE(static_cast<char*>(base), reinterpret_cast<char*>(&local));
	EXPECT_GT(static_cast<char*>(base) + size, reinterpret_cast<char*>(&local));

	VString user(u"unset");
	VSystem::GetCurrentUserName(user);
	EXPECT_FALSE(user.EqualToStringRaw(VString(u"unset")));
	VString host(u"unset");
	VSystem::GetHostName(host);
	EXPECT_FALSE(host.EqualToStringRaw(VString(u"unset")));
}

TEST(VSystemTest, TicksSymbolsAndFixedTimings)
{
	const uint32 now = VSystem::GetCurrentTicks();
	EXPECT_LT(VSystem::GetCurrentDeltaTicks(now + 600), 620u);  // a start later than now
	EXPECT_GE(VSystem::GetCurrentDeltaTicks(now + 600), 590u);
	EXPECT_LT(VSystem::GetCurrentDeltaTicks(now), 60u);

	long long counter = 0;
	VSystem::GetProfilingCounter(counter);
	EXPECT_GT(counter, 0);
	EXPECT_EQ(VSystem::GetProfilingFrequency(), 1000000000u);
	EXPECT_GE(VSystem::GetMicrosecFromProfilingCounter(), uint64(counter) / 1000);

	struct Row
	{
		const char* symbol;
		const char* expected;
	};
	const Row rows[] = {
		{"_ZN4velk7VString5ClearEv", "velk::VString::Clear()"},
		{"_Z3fooi", "foo(int)"},
		{"main", "main"},
		{"_Znot_a_symbol", "_Znot_a_symbol"},
	};
	for (const Row& row : rows)
	{
		VString text;
		VSystem::DemangleSymbol(row.symbol, text);
		EXPECT_EQ(UTF8(text), row.expected);
	}

	EXPECT_EQ(VSystem::GetDoubleClicTicks(), 30u);
	EXPECT_FALSE(XMacSystem::IsUnderRosettaTranslation());
	VSystem::SetCenturyPivotYear(1950);
	EXPECT_EQ(VSystem::GetCenturyPivotYear(), 1950);
	VSystem::SetCenturyPivotYear(0);
}

TEST(VSystemTest, ProcessesExecutablesAndLinks)
{
	std::vector<int> pids = {-7};
	VSystem::GetProcessList(pids);
	EXPECT_EQ(pids.front(), -7);
	EXPECT_NE(std::find(pids.begin(), pids.end(), int(::getpid())), pids.end());

	VString text(u"unchanged");
	EXPECT_TRUE(VSystem::GetProcessName(int(::getpid()), text));
	EXPECT_EQ(UTF8(text), std::string("velk_files_tests").substr(0, 15));
	text = VString(u"unchanged");
	EXPECT_TRUE(VSystem::GetProcessName(INT32_MAX, text));  // no such process: the list was still read
	EXPECT_EQ(UTF8(text), "unchanged");
	ASSERT_TRUE(VSystem::GetProcessPath(int(::getpid()), text));
	char self[4096] = {};
	ASSERT_GT(::readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
	EXPECT_EQ(UTF8(text), self);
	EXPECT_FALSE(VSystem::KillProcess(0));

	EWFP_Reason reason = EWFP_Reason(0);
	EXPECT_FALSE(VSystem::WaitForProcess(-1, -1, &reason));
	EXPECT_EQ(reason, eWFP_NotAChild);
	const pid_t child = ::fork();
	ASSERT_GE(child, 0);
	if (child == 0)
	{
		::pause();
		::_exit(0);
	}
	EXPECT_FALSE(VSystem::WaitForProcess(child, 0, &reason));
	EXPECT_EQ(reason, eWFP_StillRunning);
	ASSERT_TRUE(VSystem::KillProcess(child));
	EXPECT_TRUE(VSystem::WaitForProcess(child, -1, nullptr));

	ASSERT_TRUE(VSystem::SearchExecutablePath(VString("sh"), text));
	EXPECT_EQ(UTF8(text).substr(UTF8(text).size() - 3), "/sh");
	EXPECT_FALSE(VSystem::SearchExecutablePath(VString("no-such-program-anywhere"), text));

	char folder[] = "/tmp/velk-link-XXXXXX";
	ASSERT_NE(::mkdtemp(folder), nullptr);
	const std::string link = std::string(folder) + "/link";
	EXPECT_EQ(XBSDSystem::CreateSymbolicLink(VString("target"), VString(link.c_str())), VE_OK);
	char target[64] = {};
	EXPECT_EQ(::readlink(link.c_str(), target, sizeof(target) - 1), 6);
	EXPECT_STREQ(target, "target");
	{
		StErrorContextInstaller errors(false, true);
		EXPECT_EQ(XBSDSystem::CreateSymbolicLink(VString("target"), VString(link.c_str())), MakeVError(kPOSIX_SIGNATURE, EEXIST));
		EXPECT_EQ(errors.GetContext()->GetLastError(), MakeVError(kPOSIX_SIGNATURE, EEXIST));
	}
	::unlink(link.c_str());
	::rmdir(folder);
}

}  // namespace
}  // namespace velk
