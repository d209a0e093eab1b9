#include "platform/NotificationDialog.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

#include "platform/ExecutableSearch.h"
#include "platform/RunLoop.h"

extern char** environ;

namespace plat {

namespace {

std::string JSONText(const std::string& text)
{
	std::string out = "\"";
	for (const char c : text)
	{
		const unsigned char byte = static_cast<unsigned char>(c);
		if (c == '"' || c == '\\')
			(out += '\\') += c;
		else if (byte < 0x20)
		{
			char escape[8];
			std::snprintf(escape, sizeof(escape), "\\u%04x", byte);
			out += escape;
		}
		else
			out += c;
	}
	return out + "\"";
}

int AnswerOfLabel(const DialogRequest& request, const std::string& label)
{
	for (const DialogButton& button : request.fButtons)
	{
		if (button.fLabel == label)
			return button.fAnswer;
	}
	return kDialogDismissed;
}

// The sink's line, written in one append so that concurrent dialogs never interleave.
bool WriteToSink(const char* sink, const DialogRequest& request, int& answer)
{
	const char* chosen = std::getenv("VELK_NOTIFICATION_ANSWER");
	answer = AnswerOfLabel(request, chosen != nullptr ? chosen : "");
	std::string line = "{\"title\":";
	line += JSONText(request.fTitle);
	line += ",\"message\":";
	line += JSONText(request.fMessage);
	line += ",\"flags\":";
	line += std::to_string(request.fFlags);
	line += ",\"level\":";
	line += std::to_string(request.fLevel);
	if (!request.fIcon.empty())
	{
		line += ",\"icon\":";
		line += JSONText(request.fIcon);
	}
	line += ",\"buttons\":[";
	for (size_t i = 0; i < request.fButtons.size(); ++i)
	{
		if (i > 0)
			line += ',';
		line += JSONText(request.fButtons[i].fLabel);
	}
	line += "],\"answer\":";
	line += std::to_string(answer);
	line += "}\n";
	const int fd = ::open(sink, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
	if (fd < 0)
		return false;
	const ssize_t written = ::write(fd, line.data(), line.size());
	::close(fd);
	return written == ssize_t(line.size());
}

enum class HelperKind
{
	kNone,
	kZenity,
	kKDialog
};

struct Helper
{
	HelperKind fKind = HelperKind::kNone;
	std::string fPath;
};

Helper FindHelper()
{
	const char* display = std::getenv("DISPLAY");
	const char* wayland = std::getenv("WAYLAND_DISPLAY");
	if ((display == nullptr || *display == 0) && (wayland == nullptr || *wayland == 0))
		return Helper();
	const char* path = std::getenv("PATH");
	Helper helper;
	if (SearchExecutable("zenity", path != nullptr ? path : "", helper.fPath))
		helper.fKind = HelperKind::kZenity;
	else if (SearchExecutable("kdialog", path != nullptr ? path : "", helper.fPath))
		helper.fKind = HelperKind::kKDialog;
	return helper;
}

std::vector<std::string> HelperArguments(const Helper& helper, const DialogRequest& request)
{
	const bool headerOnly = request.fTitle.empty() || request.fMessage.empty();
	const std::string header = request.fTitle.empty() ? request.fMessage : request.fTitle;
	const std::string text = headerOnly ? header : request.fMessage;
	std::vector<std::string> arguments = {helper.fPath};
	if (helper.fKind == HelperKind::kZenity)
	{
		// Only the extra buttons show, and the pressed one prints its label: closing prints nothing.
		arguments.insert(arguments.end(), {"--question", "--switch", "--no-markup", "--title=" + header, "--text=" + text,
			std::string("--icon-name=") + (request.fLevel == 2 ? "dialog-warning" : "dialog-information")});
		if (!request.fIcon.empty())
			arguments.push_back("--window-icon=" + request.fIcon);
		for (const DialogButton& button : request.fButtons)
			arguments.push_back("--extra-button=" + button.fLabel);
		return arguments;
	}
	arguments.insert(arguments.end(), {"--title", header});
	if (!request.fIcon.empty())
		arguments.insert(arguments.end(), {"--icon", request.fIcon});
	if (request.fButtons.size() <= 1)
	{
		arguments.insert(arguments.end(), {"--msgbox", text});
		if (!request.fButtons.empty())
			arguments.insert(arguments.end(), {"--ok-label", request.fButtons[0].fLabel});
		return arguments;
	}
	// Yes, No and Cancel stand for the three slots; closing the window answers Cancel.
	arguments.insert(arguments.end(), {"--yesnocancel", text, "--yes-label", request.fButtons[0].fLabel, "--no-label",
		request.fButtons[1].fLabel, "--cancel-label", request.fButtons.size() > 2 ? request.fButtons[2].fLabel : "Cancel"});
	return arguments;
}

// Starts the helper with its output on a pipe (read end in outputFd, -1 when not wanted); 0 when it cannot.
pid_t Spawn(const std::vector<std::string>& arguments, int* outputFd)
{
	int channel[2] = {-1, -1};
	if (outputFd != nullptr && ::pipe2(channel, O_CLOEXEC) != 0)
		return 0;
	posix_spawn_file_actions_t actions;
	::posix_spawn_file_actions_init(&actions);
	::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	if (outputFd != nullptr)
		::posix_spawn_file_actions_adddup2(&actions, channel[1], 1);
	else
		::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
	std::vector<char*> argv;
	for (const std::string& argument : arguments)
		argv.push_back(const_cast<char*>(argument.c_str()));
	argv.push_back(nullptr);
	pid_t pid = 0;
	const int failed = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
	::posix_spawn_file_actions_destroy(&actions);
	if (outputFd != nullptr)
	{
		::close(channel[1]);
		if (failed != 0)
			::close(channel[0]);
		else
			*outputFd = channel[0];
	}
	return failed == 0 ? pid : 0;
}

int AnswerOfHelper(const Helper& helper, const DialogRequest& request, const std::string& output, int status)
{
	if (helper.fKind == HelperKind::kZenity)
	{
		std::string label = output;
		while (!label.empty() && (label.back() == '\n' || label.back() == '\r'))
			label.pop_back();
		return label.empty() ? kDialogDismissed : AnswerOfLabel(request, label);
	}
	if (!WIFEXITED(status))
		return kDialogDismissed;
	const size_t slot = size_t(WEXITSTATUS(status));
	return slot < request.fButtons.size() && (slot < 2 || request.fButtons.size() > 2) ? request.fButtons[slot].fAnswer : kDialogDismissed;
}

// A dialog started without waiting: its helper's process descriptor (-1 when the helper is looked at on a
// timer instead) and the main run loop's source that watches it end.
struct PendingHelper
{
	int fProcess = -1;
	RunLoop::SourceId fWatch = 0;
};

// Helpers of dialogs started without waiting. Never destroyed: the main run loop may collect them after main.
struct Pending
{
	std::mutex fMutex;
	std::map<pid_t, PendingHelper> fHelpers;
};

Pending& PendingHelpers()
{
	static Pending* const sPending = new Pending();
	return *sPending;
}

// Where process descriptors are missing (kernels before 5.3), a helper is looked at this often until it ends.
constexpr int64_t kHelperPollMs = 100;

void WaitForHelper(pid_t pid)
{
	while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR)
		;
}

// On the main run loop, when a helper may have ended: one that has is collected and unlisted under the lock,
// so that a cancel finds every helper either listed and not collected, or gone.
void CollectIfEnded(pid_t pid)
{
	Pending& pending = PendingHelpers();
	PendingHelper ended;
	{
		std::lock_guard<std::mutex> guard(pending.fMutex);
		const auto found = pending.fHelpers.find(pid);
		if (found == pending.fHelpers.end())
			return;	 // a cancel has taken it
		pid_t done;
		do
			done = ::waitpid(pid, nullptr, WNOHANG);
		while (done < 0 && errno == EINTR);
		if (done == 0)
			return;
		// Collected now, or already by someone else (ECHILD): not ours to wait for any longer.
		ended = found->second;
		pending.fHelpers.erase(found);
	}
	RunLoop::Main().Remove(ended.fWatch);
	if (ended.fProcess >= 0)
		::close(ended.fProcess);
}

}  // namespace

bool RunDialog(const DialogRequest& request, int& answer)
{
	if (const char* sink = std::getenv("VELK_NOTIFICATION_SINK"); sink != nullptr && *sink != 0)
		return WriteToSink(sink, request, answer);
	const Helper helper = FindHelper();
	if (helper.fKind == HelperKind::kNone)
		return false;
	int output = -1;
	const pid_t pid = Spawn(HelperArguments(helper, request), &output);
	if (pid == 0)
		return false;
	std::string text;
	char buffer[256];
	for (ssize_t count; (count = ::read(output, buffer, sizeof(buffer))) != 0;)
	{
		if (count < 0 && errno == EINTR)
			continue;
		if (count < 0)
			break;
		text.append(buffer, size_t(count));
	}
	::close(output);
	int status = 0;
	while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
		;
	answer = AnswerOfHelper(helper, request, text, status);
	return true;
}

bool StartDialog(const DialogRequest& request)
{
	if (const char* sink = std::getenv("VELK_NOTIFICATION_SINK"); sink != nullptr && *sink != 0)
	{
		int dropped = 0;
		return WriteToSink(sink, request, dropped);
	}
	const Helper helper = FindHelper();
	if (helper.fKind == HelperKind::kNone)
		return false;
	Pending& pending = PendingHelpers();
	// Spawned and listed under the lock, so that a cancel never misses a helper nor meets one half-listed.
	std::lock_guard<std::mutex> guard(pending.fMutex);
	const pid_t pid = Spawn(HelperArguments(helper, request), nullptr);
	if (pid == 0)
		return false;
	const int process = int(::syscall(SYS_pidfd_open, pid, 0));	// always close-on-exec
	RunLoop::SourceId watch = 0;
	try
	{
		PendingHelper& listed = pending.fHelpers[pid];
		listed.fProcess = process;
		// The watch cannot fire before the lock is let go, and then finds the helper listed.
		if (process >= 0)
			watch = RunLoop::Main().AddDescriptor(process, POLLIN, [pid](short) { CollectIfEnded(pid); });
		else
			watch = RunLoop::Main().AddTimer(kHelperPollMs, kHelperPollMs, [pid] { CollectIfEnded(pid); });
		listed.fWatch = watch;
	}
	catch (const std::bad_alloc&)
	{
		watch = 0;
	}
	if (watch != 0)
		return true;
	// Nothing would collect it: the dialog is ended rather than left to become a zombie.
	pending.fHelpers.erase(pid);
	::kill(pid, SIGTERM);
	WaitForHelper(pid);
	if (process >= 0)
		::close(process);
	return false;
}

void CancelPendingDialogs()
{
	Pending& pending = PendingHelpers();
	std::map<pid_t, PendingHelper> helpers;
	{
		std::lock_guard<std::mutex> guard(pending.fMutex);
		helpers.swap(pending.fHelpers);
	}
	// Once its watch is removed, a helper is collected here only.
	for (const auto& [pid, helper] : helpers)
	{
		RunLoop::Main().Remove(helper.fWatch);
		::kill(pid, SIGTERM);
	}
	for (const auto& [pid, helper] : helpers)
	{
		WaitForHelper(pid);
		if (helper.fProcess >= 0)
			::close(helper.fProcess);
	}
}

}  // namespace plat
