#include "kernel/values/mac/XMacUUID.h"

#include "kernel/values/VUUID.h"
#include "platform/Clock.h"
#include "platform/Random.h"

namespace velk {

bool XMacUUID::Generate(VUUIDBuffer* buffer)
{
	if (buffer == nullptr)
		return false;
	plat::FillRandomUUID(buffer->fBytes);
	return true;
}

void XMacUUID::FillRandom(void* bytes, size_t count)
{
	plat::FillSecureRandom(bytes, count);
}

int64 XMacUUID::GetRealTimeNanoseconds()
{
	return plat::GetCalendarNanoseconds();
}

}  // namespace velk
