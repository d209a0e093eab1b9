// The system facade's facts about the machine, the process and the user, read from the platform layer.
#include "files/mac/XMacSystem.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "kernel/strings/VString.h"
#include "files/VSystem.h"
#include "files/mac/XBSDSystem.h"
#include "platform/Clock.h"
#include "platform/ExecutableSearch.h"
#include "platform/ProcFiles.h"
#include "platform/ProcessList.h"
#include "platform/SystemInfo.h"
#include "platform/UserInfo.h"
#include "platform/VirtualMemory.h"

namespace velk {

namespace {

const std::string kRoot("/");

void SetIfAny(VString& out, const std::string& text)
{
	if (!text.empty())
		out = VString(text.c_str());
}

}  // namespace

void XMacSystem::GetFullOSName(VString& out)
{
	std::string numbers, build;
	plat::SplitKernelRelease(plat::GetKernelRelease(), numbers, build);
	std::string name = "Linux " + numbers;
	if (!build.empty())
		name += " (" + build + ")";
	out = VString(name.c_str());
}

void XMacSystem::GetSystemBuildNumber(VString& out)
{
	std::string numbers, build;
	plat::SplitKernelRelease(plat::GetKernelRelease(), numbers, build);
	SetIfAny(out, build);
}

void XMacSystem::GetComputerManufacturer(VString& out)
{
	SetIfAny(out, plat::ReadProductName(kRoot));
}

int64 XMacSystem::GetUptime()
{
	return plat::GetSecondsSinceBoot();
}

uint64 XMacSystem::GetProfilingCounter()
{
	return plat::GetMonotonicNanoseconds();
}

uint64 XMacSystem::GetProfilingFrequency()
{
	return 1000000000u;
}

void XMacSystem::Beep()
{
	const int tty = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
	if (tty < 0)
		return;
	const char bell = '\a';
	ssize_t written = ::write(tty, &bell, 1);
	(void)written;
	::close(tty);
}

int32 XMacSystem::GetPhysicalCoreCount(bool onlineOnly)
{
	return plat::CountPhysicalCores(kRoot, onlineOnly);
}

bool XMacSystem::GetProcessorModel(VString& out)
{
	std::string model;
	if (!plat::ReadProcessorModel(kRoot, model))
		return false;
	out = VString(model.c_str());
	return true;
}

uint64 XMacSystem::GetPhysicalMemSize()
{
	return plat::ReadMemInfoBytes(kRoot, "MemTotal");
}

uint64 XMacSystem::GetPhysicalFreeMemSize()
{
	return plat::ReadMemInfoBytes(kRoot, "MemFree");
}

uint64 XMacSystem::GetApplicationPhysicalMemSize()
{
	uint64_t size = 0, resident = 0;
	return plat::ReadOwnMemoryPages(kRoot, size, resident) ? uint64(resident) * GetVMPageSize() : 0;
}

uint64 XMacSystem::VirtualMemoryUsedSize()
{
	uint64_t size = 0, resident = 0;
	return plat::ReadOwnMemoryPages(kRoot, size, resident) ? uint64(size) * GetVMPageSize() : 0;
}

bool XMacSystem::VirtualQuery(const void* address, size_t* size, bool* isFree, void** base)
{
	uintptr_t start = 0;
	size_t length = 0;
	bool free = false;
	plat::QueryOwnMapping(kRoot, reinterpret_cast<uintptr_t>(address), start, length, free);
	if (size != nullptr)
		*size = length;
	if (isFree != nullptr)
		*isFree = free;
	if (base != nullptr)
		*base = reinterpret_cast<void*>(start);
	return length != 0;
}

bool XMacSystem::GetProcessList(std::vector<int>& pids)
{
	return plat::ListProcesses(kRoot, pids);
}

bool XMacSystem::GetProcessName(int pid, VString& out)
{
	if (!plat::CanReadProcesses(kRoot))
		return false;
	std::string name;
	if (plat::ReadProcessName(kRoot, pid, name))
		out = VString(name.c_str());
	return true;
}

bool XMacSystem::GetProcessPath(int pid, VString& out)
{
	std::string path;
	if (!plat::ReadProcessPath(kRoot, pid, path))
		return false;
	out = VString(path.c_str());
	return true;
}

bool XMacSystem::WaitForProcess(int pid, int32 timeout, EWFP_Reason* reason)
{
	switch (plat::WaitForProcess(pid, timeout < 0))
	{
		case plat::WaitOutcome::kExited:
			return true;
		case plat::WaitOutcome::kNoProcess:
			if (reason != nullptr)
				*reason = eWFP_NotAChild;
			return false;
		case plat::WaitOutcome::kRunning:
			if (reason != nullptr)
				*reason = eWFP_StillRunning;
			return false;
		default:
			return false;
	}
}

bool XMacSystem::KillProcess(int pid)
{
	return plat::KillProcess(pid);
}

bool XMacSystem::SearchExecutablePath(const VString& name, VString& outPath)
{
	if (XBSDSystem::SearchExecutablePath(name, outPath))
		return true;
	std::vector<std::string> folders;
	if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0)
		folders.push_back(std::string(home) + "/Applications");
	folders.push_back("/Applications");
	std::string found;
	if (!plat::SearchApplicationBundle(to_string(name), folders, found))
		return false;
	outPath = VString(found.c_str());
	return true;
}

void XMacSystem::DemangleSymbol(const char* symbol, VString& out)
{
	if (symbol == nullptr)
	{
		out.Clear();
		return;
	}
	int status = 0;
	char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
	out = VString(status == 0 && demangled != nullptr ? demangled : symbol);
	std::free(demangled);
}

void XMacSystem::GetLoginUserName(VString& out)
{
	std::string name;
	if (plat::GetUserFullName(name))
		SetIfAny(out, name);
}

void XMacSystem::GetCurrentUserName(VString& out)
{
	std::string name;
	if (plat::GetUserAccountName(name))
		SetIfAny(out, name);
}

void XMacSystem::GetHostName(VString& out)
{
	std::string name;
	if (plat::GetHostDisplayName(kRoot, name))
		SetIfAny(out, name);
}

}  // namespace velk
