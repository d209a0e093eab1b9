#include "files/mac/XMacSystem.h"

#include "kernel/strings/VString.h"
#include "platform/Clock.h"
#include "platform/Random.h"
#include "platform/SystemInfo.h"
#include "platform/VirtualMemory.h"

namespace velk {

namespace {

// How far ahead the next offset change is looked for; past it the offsets are simply computed again.
constexpr int64 kGMTOffsetRecheckSeconds = 400 * 86400;

// The zone's standard offset: the one half a year away, where daylight saving is out of force whichever
// hemisphere the zone lies in, else the C library's standard offset; shifts are not always an hour.
int32 StandardOffsetAround(int64 now)
{
	constexpr int64 kHalfYear = 182 * 24 * 3600;
	for (const int64 instant : {now - kHalfYear, now + kHalfYear})
	{
		int32 offset = 0;
		bool daylight = true;
		if (plat::GetUTCOffsetAt(instant, &offset, &daylight) && !daylight)
			return offset;
	}
	return plat::GetStandardUTCOffset();
}

}  // namespace

size_t XMacSystem::GetVMPageSize()
{
	return plat::GetPageSize();
}

size_t XMacSystem::RoundUpVMPageSize(size_t size)
{
	return plat::RoundUpToPageSize(size);
}

void* XMacSystem::VirtualAlloc(size_t size, const void* address)
{
	return plat::ReserveMemory(size, address);
}

void* XMacSystem::VirtualAllocPhysicalMemory(size_t size, const void* address, bool* locked)
{
	return plat::ReservePhysicalMemory(size, address, locked);
}

void XMacSystem::VirtualFree(void* address, size_t size, bool)
{
	plat::ReleaseMemory(address, size);
}

uint64 XMacSystem::GetCurrentTime()
{
	return plat::GetMonotonicMilliseconds();
}

uint32 XMacSystem::GetCurrentTicks()
{
	return plat::GetMonotonicTicks();
}

void XMacSystem::Delay(int32 ms)
{
	plat::SleepMilliseconds(ms);
}

void XMacSystem::GetSystemUTCTime(int16* fields)
{
	plat::GetUTCNowFields(fields);
}

void XMacSystem::GetSystemLocalTime(int16* fields)
{
	plat::GetLocalNowFields(fields);
}

void XMacSystem::UTCToLocalTime(int16* fields)
{
	plat::UTCFieldsToLocal(fields);
}

void XMacSystem::LocalToUTCTime(int16* fields)
{
	plat::LocalFieldsToUTC(fields);
}

void XMacSystem::ComputeGMTOffsets(int32& withDaylight, int32& withoutDaylight, int64& validUntil)
{
	int64 now = plat::GetCalendarSeconds();
	int32 offset = 0;
	bool daylight = false;
	if (!plat::GetUTCOffsetAt(now, &offset, &daylight))
	{
		offset = 0;
		daylight = false;
	}
	withDaylight = offset;
	withoutDaylight = daylight ? StandardOffsetAround(now) : offset;
	validUntil = plat::FindNextUTCOffsetChange(now, now + kGMTOffsetRecheckSeconds);
}

int64 XMacSystem::GetCalendarSeconds()
{
	return plat::GetCalendarSeconds();
}

void XMacSystem::ResetTimeZoneData()
{
	plat::ReloadTimeZone();
}

void XMacSystem::GetOSVersionString(VString& out)
{
	out = VString(plat::GetOSVersionText().c_str());
}

int32 XMacSystem::GetMacOSXVersionDecimal()
{
	return int32(plat::GetOSVersionDecimal());
}

bool XMacSystem::IsOSVersionAtLeast(int32, int32, int32)
{
	return true;
}

int32 XMacSystem::GetNumberOfLogicalProcessors()
{
	return plat::GetLogicalProcessorCount();
}

void XMacSystem::Random(void* buffer, size_t count)
{
	plat::FillSecureRandom(buffer, count);
}

int32 XMacSystem::Random(bool usePseudoRandom)
{
	if (usePseudoRandom)
		return plat::NextPseudoRandom();
	uint32 value = 0;
	plat::FillSecureRandom(&value, sizeof(value));
	return int32(value & 0x7FFFFFFFu);
}

}  // namespace velk
