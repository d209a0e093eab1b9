// The toolbox's door to the operating system for what is not a file: virtual memory, the clocks, calendar time
// and the local time zone, and facts about the system. Static operations only; any thread may call them, and
// none pushes an error: failures show in the results.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"

namespace velk {

class VFilePath;
class VJSONArray;
class VString;

// macOS releases that callers may require; every other value counts as always met.
enum SystemVersion : int32
{
	eOSVersion_10_9 = 11,
	eOSVersion_10_10 = 12,
	eOSVersion_10_11 = 13,
	eOSVersion_10_12 = 14,
	eOSVersion_10_13 = 15,
	eOSVersion_10_14 = 16,
	eOSVersion_10_15 = 17,
	eOSVersion_11 = 18,
	eOSVersion_12 = 19,
	eOSVersion_13 = 20,
	eOSVersion_14 = 21,
	eOSVersion_15 = 22
};

// The answer of a notification dialog.
enum ENotificationResponse : int32
{
	eNR_None = 0,
	eNR_OK = 1,
	eNR_Cancel = 2,
	eNR_Yes = 3,
	eNR_No = 4,
	eNR_Abort = 5,
	eNR_Retry = 6,
	eNR_Ignore = 7,
	eNR_Dismissed = 8  // closed without a button
};

// Why a wait ended without the process.
enum EWFP_Reason : int32
{
	eWFP_NotAChild = 1,	 // not a process of this machine any more, or never one
	eWFP_StillRunning = 2
};

class VELK_API VSystem
{
public:
	VSystem() = delete;

	// Whether the running system is at least the given release: 11 to 22 are asked of the system (a platform
	// without macOS releases meets them all); every other value answers true.
	static bool IsSystemVersionOrAbove(SystemVersion version);

	// The system's own version text ("Linux " + the kernel release here), computed once.
	static void GetOSVersionString(VString& out);

	// Logical processors of the machine, at least 1; cached after the first call.
	static int32 GetNumberOfLogicalProcessors();

	static size_t GetVMPageSize();
	// size rounded up to whole pages; 0 when that does not fit in size_t.
	static size_t RoundUpVMPageSize(size_t size);

	// Reserves and commits size bytes rounded up to pages, zero-filled. With an address the memory is placed
	// exactly there: a page-aligned free address is used, anything else (unaligned, partly occupied, refused by
	// the system) gives null and leaves existing mappings alone. Without one it goes anywhere. Null on failure.
	static void* VirtualAlloc(size_t size, const void* address);

	// VirtualAlloc, then the pages are wired in RAM when the system allows it. locked (may be null) is set true
	// only when they were; unwired memory is still returned when wiring is refused. Null on failure.
	static void* VirtualAllocPhysicalMemory(size_t size, const void* address, bool* locked);

	// Releases size bytes, rounded up to pages, at address (as returned by the two calls above).
	static void VirtualFree(void* address, size_t size, bool physical);

	// Milliseconds of the monotonic clock.
	static uint64 GetCurrentTime();
	// Ticks (1/60 second) of the monotonic clock.
	static uint32 GetCurrentTicks();
	// Sleeps the calling thread for ms milliseconds, through interruptions.
	static void Delay(int32 ms);

	// Calendar fields are seven int16 values: year, month (1-12), day, hour (0-23), minute, second, millisecond.
	// The current date and time in UTC or in the local zone, millisecond 0 to 999.
	static void GetSystemUTCTime(int16* fields);
	static void GetSystemLocalTime(int16* fields);

	// Convert the first six fields in place between UTC and the local zone, with the daylight-saving rule in
	// force on that date; the millisecond is untouched. Year 0 with month 0 or hour 0 (a null time) comes back
	// unchanged, as does a date the system cannot represent. A local time skipped by a daylight-saving change
	// moves forward by the shift; one that happens twice reads as the later occurrence.
	static void UTCToLocalTime(int16* fields);
	static void LocalToUTCTime(int16* fields);

	// The local offset from GMT in seconds, positive east of GMT, with or without the daylight-saving shift in
	// force now. Cached; computed again after the zone's next offset change or UpdateGMTOffset.
	static int32 GetGMTOffset(bool withDaylightSaving);

	// Computes both offsets now.
	static void UpdateGMTOffset();

	// After the system's date, time or zone changed (TZ included): the system's zone data is read again, then
	// the offsets are computed.
	static void SystemDateTimeChanged();

	// Answers true: the facade needs no set-up.
	static bool Init() { return true; }
	// The system version as major * 10000 + minor * 100 + patch; 0 when unreadable.
	static int32 MAC_GetSystemVersionDecimal();
	// "Linux " + the kernel release's numbers + " (" + its build text + ")" here.
	static void GetFullOSName(VString& out);
	// The release's build text; out unchanged when there is none.
	static void GetSystemBuildNumber(VString& out);
	// The machine's product name; out unchanged when there is none.
	static void GetComputerManufacturer(VString& out);

	// The distance between now's ticks and start, whichever is later.
	static uint32 GetCurrentDeltaTicks(uint32 start);
	// Seconds since boot; -1 when unreadable.
	static int64 GetUptime();
	// The raw profiling counter and its counts per second; the counter in microseconds.
	static void GetProfilingCounter(long long& counter);
	static uint64 GetProfilingFrequency();
	static uint64 GetMicrosecFromProfilingCounter();

	// Fixed interface timings, in pixels or ticks.
	static int32 GetDragOffset() { return 2; }
	static uint32 GetCaretTicks() { return 60; }
	static uint32 GetTipsTimeoutTicks() { return 600; }
	static uint32 GetSelectDelayTicks() { return 15; }
	// The user's double-click threshold in ticks; 30 without one.
	static uint32 GetDoubleClicTicks();
	// The alert sound (the terminal's bell here, when there is a terminal).
	static void Beep();

	// Kept for callers that expand two-digit years; nothing here reads it.
	static void SetCenturyPivotYear(int16 year) { sCenturyPivotYear.store(year, std::memory_order_relaxed); }
	static int16 GetCenturyPivotYear() { return sCenturyPivotYear.load(std::memory_order_relaxed); }

	// Physical processors of the machine (cached) and those enabled now (not cached); 1 when unreadable or
	// fewer than 2.
	static int32 GetNumberOfPhysicalProcessors();
	static int32 GetEnabledCoresNumber();
	// The processor's description, "-" when the system gives none. With clean, a text of 2 characters or more
	// loses its outer blanks and every double space. The first call's answer is kept for every later call.
	static void GetProcessorTypeString(VString& out, bool clean);
	// Bytes: the machine's memory, its free part, this process's resident and virtual sizes; 0 on failure.
	static uint64 GetPhysicalMemSize();
	static uint64 GetPhysicalFreeMemSize();
	static uint64 GetApplicationPhysicalMemSize();
	static uint64 VirtualMemoryUsedSize();
	// The region at or after address: a gap before the next mapping (isFree, base = address) or that mapping
	// (its base and size); all zero when none. Answers whether the size is not 0.
	static bool VirtualQuery(const void* address, size_t* size, bool* isFree, void** base);

	// Appends the id of every live process to pids (not cleared first); nothing appended on failure.
	static void GetProcessList(std::vector<int>& pids);
	// The short command name of pid (15 bytes here); true whenever the process list could be read, out then
	// unchanged for an unknown pid.
	static bool GetProcessName(int pid, VString& out);
	// The executable path of pid; false when it cannot be read.
	static bool GetProcessPath(int pid, VString& out);
	// Waits for pid to end: a negative timeout blocks until it does, any other looks once. True when it ended
	// (a child of this process is collected; another process is watched until it ends). Otherwise reason (when
	// given) is eWFP_NotAChild for no such process or an id below 1 (those name groups of children, and
	// waiting for them would collect a launcher's children), eWFP_StillRunning when it runs; other failures
	// leave it untouched.
	static bool WaitForProcess(int pid, int32 timeout, EWFP_Reason* reason);
	// Sends the kill signal. False, nothing sent, for an id below 1: those name process groups or every
	// process. True when the signal was delivered.
	static bool KillProcess(int pid);
	// The executable named (its real path when the name holds '/', else the first hit in PATH), else the
	// application bundle "<name>.app" in $HOME/Applications, then /Applications, as a folder path ending in
	// '/'. outPath holds the POSIX path; false when nothing is found.
	static bool SearchExecutablePath(const VString& name, VString& outPath);
	// The same as a path; cleared, false, when nothing is found or the POSIX path makes no valid path.
	static bool SearchExecutablePath(const VString& name, VFilePath& outPath);

	// A dialog with the title as its header and the message as its body (the message as the header when the
	// title is empty). flags & 15 choose the buttons: 1 OK and Cancel, 2 Yes and No, 4 Yes, No and Cancel, 5
	// Retry, Ignore and Abort, others a single OK; bit 16 (bits 48 for three buttons) makes the affirmative one
	// the default; bit 512 asks for the caution level. With answer the call waits (answer first 0, then the
	// button's, or eNR_Dismissed); without, it returns at once and the answer is dropped. False when the dialog
	// cannot be shown (no sink and no display here).
	static bool DisplayNotification(const VString& title, const VString& message, uint32 flags, ENotificationResponse* answer);
	// Ends the dialogs shown without waiting that are still open.
	static void CancelAllPendingUserNotifications();

	// The demangled form of a mangled C++ symbol name, or the name itself.
	static void DemangleSymbol(const char* symbol, VString& out);
	// The user's full name, the account name and the computer's name; out unchanged when unknown.
	static void GetLoginUserName(VString& out);
	static void GetCurrentUserName(VString& out);
	static void GetHostName(VString& out);

	// System information, for diagnostics; nothing on the updater's road calls it. Failures show as missing
	// entries, false or -1; no error is pushed.
	// Appends {"type", "name", "ipAddresses": [{"ip", "type": "ipv4" or "ipv6"}]} for each adapter with a
	// usable address (up, multicast-capable, neither loopback nor point-to-point; IPv6 addresses that are
	// tentative, duplicated, deprecated or temporary left out), in the system's order of interfaces.
	static void GetNetworkAdaptersInformations(VJSONArray& out);
	// Appends {"mountPoint", "capacity", "available" (KiB), "filesystem", "name", "disk"} for each mounted
	// file system on a block device or a network share. "disk" is {"interface", "description", "size"
	// (KiB), "identifier"}, an array of such objects for the members of a logical volume, or
	// {"interface": "network", ...} for a share. A volume whose space is not known within a second counts 0.
	static void GetDiskPartitionsInfos(VJSONArray& out);
	// Empties rates; then, when a previous call left a sample, time has passed and the byte totals did not
	// go down, appends bytes received and sent per second since then and answers true. Every call becomes
	// the next one's sample.
	static bool GetInOutNetworkStats(std::vector<double>& rates);
	// The machine's busy fraction (0 to 1) since the previous call; false with 0 on the first call and when
	// the processors changed.
	static bool GetProcessorsPercentageUse(double& load);
	// This process's share (0 to 1) of all processors since the previous call (since it started, on the
	// first); -1 when its times cannot be read.
	static double GetApplicationProcessorsPercentageUse();
	static bool AllowedToGetSystemInfo() { return true; }

private:
	static std::atomic<int16> sCenturyPivotYear;
	static std::atomic<int32> sGMTOffset;
	static std::atomic<int32> sGMTOffsetWithDayLight;
	static std::atomic<uint8> sGMTOffsetValid;
	// When the offsets must be computed again (seconds since 1970, UTC): the zone's next change.
	static std::atomic<int64> sGMTOffsetValidUntil;
};

}  // namespace velk
