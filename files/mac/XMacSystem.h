// The system facade's platform half: virtual memory, clocks, calendar conversions, system facts and
// information, and random numbers, done by the platform layer.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"

namespace plat {
struct NetworkAdapter;
struct DiskPartition;
}  // namespace plat

namespace velk {

class VJSONArray;
class VString;
class XMacVolumes;
enum EWFP_Reason : int32;
enum ENotificationResponse : int32;

class VELK_API XMacSystem
{
public:
	XMacSystem() = delete;

	static size_t GetVMPageSize();
	// size rounded up to whole pages; 0 when that does not fit in size_t.
	static size_t RoundUpVMPageSize(size_t size);
	// See VSystem for placement and failure rules.
	static void* VirtualAlloc(size_t size, const void* address);
	static void* VirtualAllocPhysicalMemory(size_t size, const void* address, bool* locked);
	static void VirtualFree(void* address, size_t size, bool physical);

	static uint64 GetCurrentTime();
	static uint32 GetCurrentTicks();
	static void Delay(int32 ms);

	static void GetSystemUTCTime(int16* fields);
	static void GetSystemLocalTime(int16* fields);
	// Six fields converted in place; unchanged when the date cannot be represented. No null-time rule here.
	static void UTCToLocalTime(int16* fields);
	static void LocalToUTCTime(int16* fields);

	// The local zone's offsets from GMT now, with and without the daylight-saving shift (an hour is taken off
	// while daylight saving is in force), and the instant (seconds since 1970, UTC) at which they next change.
	static void ComputeGMTOffsets(int32& withDaylight, int32& withoutDaylight, int64& validUntil);
	// Seconds since 1970-01-01 UTC, from the real-time clock.
	static int64 GetCalendarSeconds();
	// Makes the system read its time-zone settings again.
	static void ResetTimeZoneData();

	// The system's version text, "Linux " + the kernel release here.
	static void GetOSVersionString(VString& out);
	// The system version as major * 10000 + minor * 100 + patch (minor and patch capped at 99); 0 when unreadable.
	static int32 GetMacOSXVersionDecimal();
	// Whether the running system is at least the macOS release major.minor.patch: always true here, as no
	// macOS release is required on this platform.
	static bool IsOSVersionAtLeast(int32 major, int32 minor, int32 patch);
	static int32 GetNumberOfLogicalProcessors();

	// "Linux " + the kernel release's numbers + " (" + its build text + ")", the parenthesis left out when the
	// release has no build text.
	static void GetFullOSName(VString& out);
	// The release's text after its numbers ("18-amd64"); out unchanged when there is none.
	static void GetSystemBuildNumber(VString& out);
	// The machine's product name from the firmware tables; out unchanged when there is none.
	static void GetComputerManufacturer(VString& out);
	// Never: no translation layer runs programs of another architecture here.
	static bool IsUnderRosettaTranslation() { return false; }

	// Seconds since boot, suspended time included; -1 when unreadable.
	static int64 GetUptime();
	// The monotonic clock in nanoseconds, and its 10^9 counts per second.
	static uint64 GetProfilingCounter();
	static uint64 GetProfilingFrequency();
	// No double-click preference exists for command-line processes: the default, in ticks.
	static uint32 GetDoubleClicTicks() { return 30; }
	// The terminal's bell, when the process has a controlling terminal.
	static void Beep();

	// Distinct physical cores known to the kernel, or only those online; 0 when unreadable.
	static int32 GetPhysicalCoreCount(bool onlineOnly);
	// The processor's model name; false when the system does not say.
	static bool GetProcessorModel(VString& out);
	// Bytes of memory: the machine's, its free part, this process's resident and virtual sizes; 0 when
	// unreadable.
	static uint64 GetPhysicalMemSize();
	static uint64 GetPhysicalFreeMemSize();
	static uint64 GetApplicationPhysicalMemSize();
	static uint64 VirtualMemoryUsedSize();
	// The region at or after address, as VSystem::VirtualQuery.
	static bool VirtualQuery(const void* address, size_t* size, bool* isFree, void** base);

	// Appends the ids of the live processes; false, pids untouched, when the list cannot be read.
	static bool GetProcessList(std::vector<int>& pids);
	// The short command name of pid; true whenever the list could be read (out unchanged for an unknown pid).
	static bool GetProcessName(int pid, VString& out);
	// The executable path of pid; false when it cannot be read.
	static bool GetProcessPath(int pid, VString& out);
	// As VSystem::WaitForProcess.
	static bool WaitForProcess(int pid, int32 timeout, EWFP_Reason* reason);
	// The kill signal; false for an id below 1 and when it was not delivered.
	static bool KillProcess(int pid);
	// PATH first; then "<name>.app" in $HOME/Applications and /Applications, as a folder path ending in '/'.
	static bool SearchExecutablePath(const VString& name, VString& outPath);

	// As VSystem::DisplayNotification.
	static bool DisplayNotification(const VString& title, const VString& message, uint32 flags, ENotificationResponse* answer);
	static void CancelAllPendingUserNotifications();

	// The demangled form of a mangled C++ symbol name, or the name itself.
	static void DemangleSymbol(const char* symbol, VString& out);
	// The user's full name, the account name and the host's display name; out unchanged when unknown.
	static void GetLoginUserName(VString& out);
	static void GetCurrentUserName(VString& out);
	static void GetHostName(VString& out);

	// System information, as VSystem's: the running machine's adapters, disks, throughput and loads. The
	// samples kept between calls are process-wide, each under its own lock.
	static void GetNetworkAdaptersInformations(VJSONArray& out);
	static void GetDiskPartitionsInfos(VJSONArray& out);
	static bool GetInOutNetworkStats(std::vector<double>& rates);
	static bool GetProcessorsPercentageUse(double& load);
	static double GetApplicationProcessorsPercentageUse();

	// The JSON objects of adapters and partitions, appended to out. A partition without a label is named by
	// volumes (its volume table), "" when that does not know its mount point either. Kept out of the
	// library's exports, which show nothing of the platform layer.
	__attribute__((visibility("hidden"))) static void AppendNetworkAdapters(const std::vector<plat::NetworkAdapter>& adapters,
																			 VJSONArray& out);
	__attribute__((visibility("hidden"))) static void AppendDiskPartitions(const std::vector<plat::DiskPartition>& partitions,
																			XMacVolumes& volumes, VJSONArray& out);

	// Fills buffer with count bytes from the system's cryptographically secure source; cannot fail.
	static void Random(void* buffer, size_t count);
	// A number from 0 to 2^31 - 1: the process's pseudo-random sequence (random()) when usePseudoRandom is
	// true, the secure source otherwise.
	static int32 Random(bool usePseudoRandom);
};

}  // namespace velk
