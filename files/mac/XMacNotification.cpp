// The system facade's notification dialog: the buttons its flags ask for, shown by the platform layer.
#include "files/mac/XMacSystem.h"

#include <new>
#include <string>

#include "files/VSystem.h"
#include "kernel/strings/VString.h"
#include "platform/Bundle.h"
#include "platform/MainBundle.h"
#include "platform/NotificationDialog.h"

namespace velk {

namespace {

// The dialog's three slots (default, alternate, other) for the flags.
std::vector<plat::DialogButton> ButtonsOfFlags(uint32 flags)
{
	const plat::DialogButton ok{"OK", eNR_OK}, cancel{"Cancel", eNR_Cancel}, yes{"Yes", eNR_Yes}, no{"No", eNR_No};
	const bool affirmative = (flags & 16) != 0;
	switch (flags & 15)
	{
		case 1:
			return affirmative ? std::vector<plat::DialogButton>{ok, cancel} : std::vector<plat::DialogButton>{cancel, ok};
		case 2:
			return affirmative ? std::vector<plat::DialogButton>{yes, no} : std::vector<plat::DialogButton>{no, yes};
		case 4:
			if ((flags & 48) == 16)
				return {yes, no, cancel};
			if ((flags & 48) == 32)
				return {no, yes, cancel};
			return {cancel, no, yes};
		case 5:
			return {{"Retry", eNR_Retry}, {"Ignore", eNR_Ignore}, {"Abort", eNR_Abort}};
		default:
			return {ok};
	}
}

// The file of the main bundle's icon ("CFBundleIconFile", whose extension may be left out); "" when there
// is none.
std::string MainBundleIconFile()
try
{
	std::string name;
	const std::string bundlePath = plat::GetMainBundlePath();
	if (bundlePath.empty() || !plat::GetMainBundleInfoString("CFBundleIconFile", name))
		return std::string();
	const plat::Bundle bundle(bundlePath);
	std::string file = bundle.FindResourceFile(name);
	if (file.empty() && name.find('.') == std::string::npos)
		file = bundle.FindResourceFile(name + ".icns");
	return file;
}
catch (const std::bad_alloc&)
{
	return std::string();
}

}  // namespace

bool XMacSystem::DisplayNotification(const VString& title, const VString& message, uint32 flags, ENotificationResponse* answer)
{
	plat::DialogRequest request;
	request.fTitle = title.IsNull() ? std::string() : to_string(title);
	request.fMessage = message.IsNull() ? std::string() : to_string(message);
	request.fFlags = flags;
	request.fLevel = (flags & 512) != 0 ? 2 : 3;
	request.fButtons = ButtonsOfFlags(flags);
	request.fIcon = MainBundleIconFile();
	if (answer == nullptr)
		return plat::StartDialog(request);
	*answer = eNR_None;
	int pressed = 0;
	if (!plat::RunDialog(request, pressed))
		return false;
	*answer = ENotificationResponse(pressed);
	return true;
}

void XMacSystem::CancelAllPendingUserNotifications()
{
	plat::CancelPendingDialogs();
}

}  // namespace velk
