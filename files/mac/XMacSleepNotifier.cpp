#include "files/mac/XMacSleepNotifier.h"

#include <new>

#include "files/VSleepNotifier.h"
#include "platform/Power.h"
#include "platform/RunLoop.h"

namespace velk {

XMacSleepNotifier::XMacSleepNotifier() = default;

XMacSleepNotifier::~XMacSleepNotifier() = default;

VError XMacSleepNotifier::Init()
{
	if (!fWatcher)
	{
		fWatcher.reset(new (std::nothrow) plat::SleepWatcher);
		if (!fWatcher)
		{
			_ThrowError(VE_SLEEP_NOTIFICATION_UNAVAILABLE);
			return VE_SLEEP_NOTIFICATION_UNAVAILABLE;
		}
	}
	const plat::SleepWatcher::StartResult result
		= fWatcher->Start(plat::RunLoop::Current(), [this](bool goingToSleep) { SystemCallback(goingToSleep); });
	if (result == plat::SleepWatcher::StartResult::kRefused)
	{
		_ThrowError(VE_SLEEP_NOTIFICATION_UNAVAILABLE);
		return VE_SLEEP_NOTIFICATION_UNAVAILABLE;
	}
	return VE_OK;
}

void XMacSleepNotifier::SystemCallback(bool goingToSleep)
{
	if (fOwner != nullptr)
	{
		if (goingToSleep)
			fOwner->HaveSleepNotification();
		else
			fOwner->HaveWakeupNotification();
	}
	// Even without an owner: nobody else would let the machine go before the system's limit.
	if (goingToSleep)
		fWatcher->AllowSleep();
}

}  // namespace velk
