// Notification dialogs with up to three buttons. A sink file named by VELK_NOTIFICATION_SINK receives each
// dialog as one JSON line, answered by the button whose label VELK_NOTIFICATION_ANSWER holds; otherwise, with
// a display, a zenity (else kdialog) helper process shows it. Without either a dialog cannot be shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct DialogButton
{
	std::string fLabel;
	int fAnswer;
};

struct DialogRequest
{
	std::string fTitle;	   // UTF-8; an empty title puts the message in the header
	std::string fMessage;  // UTF-8
	uint32_t fFlags = 0;
	int fLevel = 3;							 // 2 caution, 3 plain
	std::vector<DialogButton> fButtons;		 // slot order: default, alternate, other
	std::string fIcon;						 // the icon's file; empty for the helper's own
};

// The answer a dialog gets when it is closed without a button.
constexpr int kDialogDismissed = 8;

// Shows the dialog and waits: answer is the pressed button's, kDialogDismissed when none was. False, answer
// untouched, when the dialog cannot be shown.
bool RunDialog(const DialogRequest& request, int& answer);

// Shows the dialog without waiting; its answer is dropped. Its helper is collected on the main run loop when it
// ends, watched through its process descriptor (or, on kernels without those, looked at every 100 ms). False
// when it cannot be shown, or when nothing could watch its helper (which is then ended).
bool StartDialog(const DialogRequest& request);

// Ends every started dialog that was not answered yet (SIGTERM to its helper), and returns once their helpers
// are collected.
void CancelPendingDialogs();

}  // namespace plat
