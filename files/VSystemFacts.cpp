// The facade's facts about the machine, its processes and the user, the executable search, and the fixed
// interface timings.
#include "files/VSystem.h"

#include "files/mac/XMacSystem.h"
#include "kernel/strings/VString.h"

namespace velk {

namespace {

int32 AtLeastOne(int32 count)
{
	return count < 2 ? 1 : count;
}

}  // namespace

std::atomic<int16> VSystem::sCenturyPivotYear { 0 };

int32 VSystem::MAC_GetSystemVersionDecimal()
{
	return XMacSystem::GetMacOSXVersionDecimal();
}

void VSystem::GetFullOSName(VString& out)
{
	XMacSystem::GetFullOSName(out);
}

void VSystem::GetSystemBuildNumber(VString& out)
{
	XMacSystem::GetSystemBuildNumber(out);
}

void VSystem::GetComputerManufacturer(VString& out)
{
	XMacSystem::GetComputerManufacturer(out);
}

uint32 VSystem::GetCurrentDeltaTicks(uint32 start)
{
	const uint32 now = GetCurrentTicks();
	return now >= start ? now - start : start - now;
}

int64 VSystem::GetUptime()
{
	return XMacSystem::GetUptime();
}

void VSystem::GetProfilingCounter(long long& counter)
{
	counter = (long long)XMacSystem::GetProfilingCounter();
}

uint64 VSystem::GetProfilingFrequency()
{
	return XMacSystem::GetProfilingFrequency();
}

uint64 VSystem::GetMicrosecFromProfilingCounter()
{
	return XMacSystem::GetProfilingCounter() / (XMacSystem::GetProfilingFrequency() / 1000000u);
}

uint32 VSystem::GetDoubleClicTicks()
{
	return XMacSystem::GetDoubleClicTicks();
}

void VSystem::Beep()
{
	XMacSystem::Beep();
}

int32 VSystem::GetNumberOfPhysicalProcessors()
{
	// Computed twice at worst by a race, never wrong.
	static std::atomic<int32> sCount { 0 };
	int32 count = sCount.load(std::memory_order_relaxed);
	if (count == 0)
	{
		count = AtLeastOne(XMacSystem::GetPhysicalCoreCount(false));
		sCount.store(count, std::memory_order_relaxed);
	}
	return count;
}

int32 VSystem::GetEnabledCoresNumber()
{
	return AtLeastOne(XMacSystem::GetPhysicalCoreCount(true));
}

void VSystem::GetProcessorTypeString(VString& out, bool clean)
{
	static const VString sDescription = [clean]
	{
		VString text;
		if (!XMacSystem::GetProcessorModel(text))
			return VString("-");
		if (clean && text.GetLength() >= 2)
		{
			text.RemoveWhiteSpaces(true, true, nullptr, nullptr, nullptr, false);
			const VString twoSpaces("  ");
			const VString oneSpace(" ");
			while (text.FindRawString(twoSpaces) > 0)
				text.ExchangeRawString(twoSpaces, oneSpace);
		}
		return text;
	}();
	out = sDescription;
}

uint64 VSystem::GetPhysicalMemSize()
{
	return XMacSystem::GetPhysicalMemSize();
}

uint64 VSystem::GetPhysicalFreeMemSize()
{
	return XMacSystem::GetPhysicalFreeMemSize();
}

uint64 VSystem::GetApplicationPhysicalMemSize()
{
	return XMacSystem::GetApplicationPhysicalMemSize();
}

uint64 VSystem::VirtualMemoryUsedSize()
{
	return XMacSystem::VirtualMemoryUsedSize();
}

bool VSystem::VirtualQuery(const void* address, size_t* size, bool* isFree, void** base)
{
	return XMacSystem::VirtualQuery(address, size, isFree, base);
}

void VSystem::GetProcessList(std::vector<int>& pids)
{
	XMacSystem::GetProcessList(pids);
}

bool VSystem::GetProcessName(int pid, VString& out)
{
	return XMacSystem::GetProcessName(pid, out);
}

bool VSystem::GetProcessPath(int pid, VString& out)
{
	return XMacSystem::GetProcessPath(pid, out);
}

bool VSystem::WaitForProcess(int pid, int32 timeout, EWFP_Reason* reason)
{
	return XMacSystem::WaitForProcess(pid, timeout, reason);
}

bool VSystem::KillProcess(int pid)
{
	return XMacSystem::KillProcess(pid);
}

bool VSystem::SearchExecutablePath(const VString& name, VString& outPath)
{
	return XMacSystem::SearchExecutablePath(name, outPath);
}

bool VSystem::DisplayNotification(const VString& title, const VString& message, uint32 flags, ENotificationResponse* answer)
{
	return XMacSystem::DisplayNotification(title, message, flags, answer);
}

void VSystem::CancelAllPendingUserNotifications()
{
	XMacSystem::CancelAllPendingUserNotifications();
}

void VSystem::DemangleSymbol(const char* symbol, VString& out)
{
	XMacSystem::DemangleSymbol(symbol, out);
}

void VSystem::GetLoginUserName(VString& out)
{
	XMacSystem::GetLoginUserName(out);
}

void VSystem::GetCurrentUserName(VString& out)
{
	XMacSystem::GetCurrentUserName(out);
}

void VSystem::GetHostName(VString& out)
{
	XMacSystem::GetHostName(out);
}

}  // namespace velk
