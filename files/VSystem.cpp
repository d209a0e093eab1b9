#include "files/VSystem.h"

#include "files/VFilePath.h"
#include "files/mac/XMacSystem.h"

namespace velk {

namespace {

struct ReleaseNumber
{
	int32 fMajor;
	int32 fMinor;
};

// Index: SystemVersion - eOSVersion_10_9.
constexpr ReleaseNumber kReleases[] = {
	{ 10, 9 }, { 10, 10 }, { 10, 11 }, { 10, 12 }, { 10, 13 }, { 10, 14 },
	{ 10, 15 }, { 11, 0 }, { 12, 0 }, { 13, 0 }, { 14, 0 }, { 15, 0 } };

bool IsNullTime(const int16* fields)
{
	return fields[0] == 0 && (fields[1] == 0 || fields[3] == 0);
}

}  // namespace

std::atomic<int32> VSystem::sGMTOffset { 0 };
std::atomic<int32> VSystem::sGMTOffsetWithDayLight { 0 };
std::atomic<uint8> VSystem::sGMTOffsetValid { 0 };
std::atomic<int64> VSystem::sGMTOffsetValidUntil { 0 };

bool VSystem::IsSystemVersionOrAbove(SystemVersion version)
{
	int32 index = int32(version) - int32(eOSVersion_10_9);
	if (index < 0 || index >= int32(sizeof(kReleases) / sizeof(kReleases[0])))
		return true;
	return XMacSystem::IsOSVersionAtLeast(kReleases[index].fMajor, kReleases[index].fMinor, 0);
}

void VSystem::GetOSVersionString(VString& out)
{
	XMacSystem::GetOSVersionString(out);
}

int32 VSystem::GetNumberOfLogicalProcessors()
{
	return XMacSystem::GetNumberOfLogicalProcessors();
}

size_t VSystem::GetVMPageSize()
{
	return XMacSystem::GetVMPageSize();
}

size_t VSystem::RoundUpVMPageSize(size_t size)
{
	return XMacSystem::RoundUpVMPageSize(size);
}

void* VSystem::VirtualAlloc(size_t size, const void* address)
{
	return XMacSystem::VirtualAlloc(size, address);
}

void* VSystem::VirtualAllocPhysicalMemory(size_t size, const void* address, bool* locked)
{
	return XMacSystem::VirtualAllocPhysicalMemory(size, address, locked);
}

void VSystem::VirtualFree(void* address, size_t size, bool physical)
{
	XMacSystem::VirtualFree(address, size, physical);
}

uint64 VSystem::GetCurrentTime()
{
	return XMacSystem::GetCurrentTime();
}

uint32 VSystem::GetCurrentTicks()
{
	return XMacSystem::GetCurrentTicks();
}

void VSystem::Delay(int32 ms)
{
	XMacSystem::Delay(ms);
}

void VSystem::GetSystemUTCTime(int16* fields)
{
	XMacSystem::GetSystemUTCTime(fields);
}

void VSystem::GetSystemLocalTime(int16* fields)
{
	XMacSystem::GetSystemLocalTime(fields);
}

void VSystem::UTCToLocalTime(int16* fields)
{
	if (!IsNullTime(fields))
		XMacSystem::UTCToLocalTime(fields);
}

void VSystem::LocalToUTCTime(int16* fields)
{
	if (!IsNullTime(fields))
		XMacSystem::LocalToUTCTime(fields);
}

int32 VSystem::GetGMTOffset(bool withDaylightSaving)
{
	// Stands in for a timer at the zone's next change: past that instant the cached offsets are stale.
	if (sGMTOffsetValid.load() == 0 || XMacSystem::GetCalendarSeconds() >= sGMTOffsetValidUntil.load())
		UpdateGMTOffset();
	return withDaylightSaving ? sGMTOffsetWithDayLight.load() : sGMTOffset.load();
}

void VSystem::UpdateGMTOffset()
{
	int32 withDaylight = 0, withoutDaylight = 0;
	int64 validUntil = 0;
	XMacSystem::ComputeGMTOffsets(withDaylight, withoutDaylight, validUntil);
	sGMTOffsetWithDayLight.exchange(withDaylight);
	sGMTOffset.exchange(withoutDaylight);
	sGMTOffsetValidUntil.exchange(validUntil);
	sGMTOffsetValid.exchange(1);
}

void VSystem::SystemDateTimeChanged()
{
	XMacSystem::ResetTimeZoneData();
	UpdateGMTOffset();
}

bool VSystem::SearchExecutablePath(const VString& name, VFilePath& outPath)
{
	VString posix;
	if (SearchExecutablePath(name, posix) && outPath.FromFullPath(posix, FPS_POSIX).IsValid())
		return true;
	outPath.Clear();
	return false;
}

}  // namespace velk
