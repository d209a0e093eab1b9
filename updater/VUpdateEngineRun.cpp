// The update run: the dated log, the checks of both bundles, the caller told and waited for, the swap, the
// relaunch and the old bundle discarded; on failure every error is logged and the user is told.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <new>
#include <vector>

#include "containers/VValueBag.h"
#include "documents/localization/LocalizeString.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "files/VSystem.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/values/VTime.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/ILogger.h"
#include "runtime/VErrorContext.h"
#include "runtime/VLog4jMsgFileLogger.h"
#include "runtime/VTask.h"
#include "updater/VBundleSwap.h"
#include "updater/VBundleSwapJournal.h"
#include "updater/VProcessLauncher.h"
#include "updater/VUpdateEngine.h"
#include "updater/VUpdaterErrors.h"
#include "updater/VUpdaterLog.h"
#include "updater/mac/XMacBundle.h"
#include "updater/mac/XMacLaunchServices.h"
#include "updater/mac/XPosixBundlePath.h"
#include "updater/mac/XPosixBundleSwap.h"

namespace velk {

namespace {

// How long a second updater of the same bundle waits for the first before it gives up.
constexpr int32 kLockWaitMs = 30000;
// The opener's answers when it could not start the executable: for any reason, and because the bundle is
// at fault (it has no executable, or one the system cannot execute).
constexpr int32 kOpenerCouldNotStart = 1;
constexpr int32 kOpenerCouldNotExecute = 126;

void FormatNow(VString& date, VString& time)
{
	VTime now;
	VTime::Now(now);
	now.FormatByOS(date, time, false);
}

// The text between double quotation marks of a command line: a backslash or quotation mark of the path
// gets a backslash, so that the command line splits back into the path itself.
VString QuotedForCommandLine(const VString& text)
{
	VString quoted("\"");
	for (int32 i = 1; i <= text.GetLength(); ++i)
	{
		const UniChar unit = text.GetUniChar(i);
		if (unit == u'\\' || unit == u'"')
			quoted.AppendUniChar(u'\\');
		quoted.AppendUniChar(unit);
	}
	quoted.AppendUniChar(u'"');
	return quoted;
}

// An error's description, else its error string.
VString DescribeError(const VErrorBase* error)
{
	VString text;
	if (error != nullptr)
	{
		error->GetErrorDescription(text);
		if (text.IsEmpty())
			error->GetErrorString(text);
	}
	return text;
}

VString DescribeError(VError code)
{
	VRefPtr<VErrorBase> error(new (std::nothrow) VErrorBase(code), true);
	return DescribeError(error.Get());
}

// Puts /dev/null in place of the standard streams, so that no file opened later takes their numbers and
// nothing written to them afterwards lands anywhere.
void DetachStandardStreams()
{
	fflush(stdout);
	fflush(stderr);
	const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
	if (null < 0)
		return;
	for (int descriptor = 0; descriptor <= 2; ++descriptor)
		::dup2(null, descriptor);
	if (null > 2)
		::close(null);
}

// An outdated path that is a symbolic link names the bundle it leads to: that bundle is the one replaced,
// and the link stays as it is, so that whatever reaches the application through it finds the new version.
// A link that dangles still names its place, where a killed update may have left nothing: the journal
// beside that place tells what to put back.
void FollowOutdatedLink(VFilePath& outdated, VFilePath& destination)
{
	const VString linked = XPosixBundlePath::GetLinkedPlace(outdated);
	if (linked.IsEmpty())
		return;
	const VString link = outdated.GetPath(FPS_POSIX);
	LogInfo("The outdated application %S is a symbolic link to %S: that bundle is updated, the link is kept", &link, &linked);
	outdated.FromFullPath(linked, FPS_POSIX);
	destination = outdated;
}

// The relaunch error, once the outdated version is back at its place, says so rather than that the new
// version stays installed.
void TellOutdatedIsBack(VErrorBase* error, const VFilePath& place)
{
	if (error == nullptr || error->GetCode() != VE_UPDATER_RELAUNCH_FAILED)
		return;
	VString text = LocalizeString(VString("OutdatedVersionPutBack"),
		"The new version of the application could not be started; the outdated version is back at '{path}'.");
	VRefPtr<VValueBag> values(new (std::nothrow) VValueBag, true);
	if (text.IsEmpty() || !values)
		return;
	values->SetString(VString("path"), place.GetPath(FPS_POSIX));
	text.Format(values.Get(), false);
	error->SetDescription(text);
}

}  // namespace

void VUpdateEngine::DoRun()
{
	// Set before the signal is read: a quit request the watcher then drops as too early is seen here.
	fRunBegun.store(true);
	const int32 quitSignal = GetQuitSignal();
	StErrorContextInstaller context(true, true);
	_InitLog();
	if (context.GetLastError() != VE_OK)
		fSilent = false;

	VString date;
	VString time;
	FormatNow(date, time);
	LogInfo("Updater starting - %S - %S", &date, &time);

	if (quitSignal != 0)
	{
		LogError("The updater was asked to quit (signal %d) before the update began: nothing was changed", int(quitSignal));
		_ThrowError(VE_UPDATER_INSTALL_FAILED);
	}
	else if (context.GetLastError() == VE_OK)
		_ApplyUpdate();

	DumpErrorStack(context.GetContext(), true);
	FormatNow(date, time);
	if (context.GetLastError() == VE_OK)
	{
		LogInfo("Update successful - %S - %S", &date, &time);
		return;
	}
	LogInfo("Update failed - %S - %S", &date, &time);
	if (fSilent)
		return;

	VString message;
	if (const VErrorBase* last = context.GetLast())
	{
		last->GetErrorDescription(message);
		if (message.IsEmpty())
			last->GetErrorString(message);
	}
	// The notice names the log only when the log holds the run's lines; otherwise it says why it does not.
	VFilePath logFile;
	VString logProblem;
	if (fFileLogger != nullptr && fFileLogger->IsStarted())
	{
		if (ILogger* logger = GetLogger())
			logger->Flush();
		fFileLogger->Flush();
		logFile = fLogFolder;
		logFile.ToSubFile(fLogName + VString("_1.txt"));
		if (const int writeError = fFileLogger->GetWriteError())
			logProblem = DescribeError(MakePosixError(writeError));
		else if (!VFile(logFile).Exists())
			logProblem = DescribeError(MakePosixError(ENOENT));
		if (!logProblem.IsEmpty())
			logFile.Clear();
	}
	else if (fLogFolder.IsValid())
	{
		const VErrorBase* first = context.GetContext() != nullptr ? context.GetContext()->GetFirst() : nullptr;
		logProblem = first != nullptr ? DescribeError(first) : DescribeError(VE_UPDATER_LOG_NOT_STARTED);
	}
	if (logFile.IsValid())
	{
		VString hint = LocalizeString(VString("MoreInformationsAvailableInLogFile"),
			"More information is available in the log file '{LogFilePath}'");
		if (!hint.IsEmpty())
		{
			VRefPtr<VValueBag> values(new (std::nothrow) VValueBag, true);
			if (values)
			{
				values->SetString(VString("LogFilePath"), logFile.GetPath(FPS_POSIX));
				hint.Format(values.Get(), false);
			}
			message = message + VString("\r\n");
			message = message + hint;
		}
	}
	else if (fLogFolder.IsValid())
	{
		VString hint = LocalizeString(VString("LogFileNotWritten"), "The log file could not be written: {Reason}");
		if (!hint.IsEmpty())
		{
			VRefPtr<VValueBag> values(new (std::nothrow) VValueBag, true);
			if (values)
			{
				values->SetString(VString("Reason"), logProblem);
				hint.Format(values.Get(), false);
			}
			message = message + VString("\r\n");
			message = message + hint;
		}
	}
	ENotificationResponse answer = eNR_None;
	VSystem::DisplayNotification(VString(), message, 2, &answer);
	if (answer == eNR_Yes && logFile.IsValid())
		XMacLaunchServices::OpenDocument(logFile.GetPath(FPS_POSIX));
}

bool VUpdateEngine::_InitLog()
{
	if (!fLogFolder.IsValid())
		return true;
	VRefPtr<VFolder> folder(new (std::nothrow) VFolder(fLogFolder), true);
	if (!folder)
		return false;
	if (!folder->Exists() && folder->CreateRecursive() != VE_OK)
		return false;

	VTime now;
	VTime::Now(now);
	int16 year, month, day, hour, minute, second, millisecond;
	now.GetLocalTime(year, month, day, hour, minute, second, millisecond);
	fLogName.Printf("%04d-%02d-%02d_%02d-%02d-%02d_log", int(year), int(month), int(day), int(hour), int(minute), int(second));
	fFileLogger = new (std::nothrow) VLog4jMsgFileLogger(folder.Get(), fLogName);
	if (fFileLogger == nullptr)
		return false;
	fFileLogger->Start();
	if (!fFileLogger->IsStarted())
	{
		_ThrowError(VE_UPDATER_LOG_NOT_STARTED);
		return false;
	}
	return true;
}

void VUpdateEngine::_ApplyUpdate()
{
	StErrorContextInstaller context(true, true);
	FollowOutdatedLink(fOutdatedApplication, fInstallDestination);

	// One updater per bundle, and what a killed one left finished or undone before anything else.
	VBundleSwapJournal journal(fInstallDestination);
	journal.SetUpToDate(fUpToDateApplication);
	if (!journal.Lock(kLockWaitMs))
		return;
	if (!journal.Recover())
		return;
	// Whatever happens from here on, a run that ends leaves no journal.
	struct JournalEnd
	{
		VBundleSwapJournal& fJournal;
		~JournalEnd() { fJournal.Finish(); }
	} journalEnd{journal};

	VFolder outdated(fOutdatedApplication);
	VFolder upToDate(fUpToDateApplication);
	if (!outdated.Exists())
		ThrowErrorWithPath(VE_UPDATER_OUTDATED_APP_MISSING, fOutdatedApplication);
	if (!upToDate.Exists())
		ThrowErrorWithPath(VE_UPDATER_UPTODATE_APP_MISSING, fUpToDateApplication);
	if (context.GetLastError() != VE_OK)
		return;
	if (ThrowIfSameOrNested(outdated, upToDate))
	{
		LogError("Up-to-date application install failed");
		_ThrowError(VE_UPDATER_INSTALL_FAILED);
		return;
	}
	// The caller may have unpacked the up-to-date bundle just before starting the updater: it reaches the
	// disk before anything of it is read, so that a power loss cannot leave its files empty for a later run
	// to install. A failed flush does not stop the run: the staging copy is flushed on its own.
	XPosixBundleSwap::SyncFileSystem(fUpToDateApplication);

	if (fClientCustomizationFile.IsFile())
	{
		_FinishClientCustomization();
		if (context.GetLastError() != VE_OK)
			return;
	}
	// An application that could not start must not replace one that does.
	if (!_CheckExecutable())
		return;

	if (fReportToCaller)
	{
		_LogProgressToCaller("waitquit", -1);
		DetachStandardStreams();
		fReportToCaller = false;
	}

	LogInfo("Waiting for external process to quit");
	_WaitForPidToQuit();
	if (context.GetLastError() != VE_OK)
	{
		LogError("External process wait failed");
		_ThrowError(VE_UPDATER_CALLER_WAIT_FAILED);
		return;
	}

	// From the first change on disk to the end of the trash step no signal cuts the update short.
	struct SignalsHeld
	{
		VProcessIPC* fProcess;
		~SignalsHeld()
		{
			if (fProcess != nullptr)
				fProcess->ReleaseEndingSignals();
		}
	} signalsHeld{VProcessIPC::sInstance != nullptr && VProcessIPC::sInstance->HoldEndingSignals() ? VProcessIPC::sInstance : nullptr};

	LogInfo("Proceeding with up-to-date application install...");
	VRefPtr<VFolder> old(_SwapApplications(outdated, upToDate, VFolder(fInstallDestination), &journal), true);
	if (context.GetLastError() != VE_OK)
	{
		LogError("Up-to-date application install failed");
		_ThrowError(VE_UPDATER_INSTALL_FAILED);
		return;
	}

	LogInfo("Proceeding with up-to-date application restart...");
	bool notExecutable = false;
	_LaunchApplication(fInstallDestination, &notExecutable);
	if (context.GetLastError() != VE_OK)
	{
		// The old bundle stays aside under its temporary name, unless the new one cannot even start: then the
		// one that ran goes back to its place.
		LogError("Up-to-date application restart failed");
		if (notExecutable && old && _PutBackOutdated(fInstallDestination, *old, &journal))
			TellOutdatedIsBack(context.GetLast(), fInstallDestination);
		return;
	}

	LogInfo("Up-to-date application restarted");
	// Only a start that the journal knows of lets the old bundle go: a run cut before then is undone.
	if (old && journal.Advance(eSwapStarted, old->GetPath()))
	{
		// The trash error stays: the run ends as failed although the new application runs.
		DiscardOldBundle(old->GetPath());
	}
}

bool VUpdateEngine::_CheckExecutable()
{
	// The executable looked for is the one the opener will start at the bundle's place, under that name.
	const VString executable = XMacBundle::GetExecutablePosixPath(fUpToDateApplication, fInstallDestination);
	if (!executable.IsEmpty() && XPosixBundleSwap::IsExecutableFile(executable))
		return true;
	VString missing(executable);
	if (missing.IsEmpty())
		missing = XMacBundle::GetExpectedExecutablePosixPath(fUpToDateApplication, fInstallDestination);
	if (missing.IsEmpty())
		missing = fUpToDateApplication.GetPath(FPS_POSIX);
	LogError("The up-to-date application's executable %S is missing or cannot be run", &missing);
	ThrowErrorWithPath(VE_UPDATER_EXECUTABLE_NOT_RUNNABLE, VFilePath(missing, FPS_POSIX));
	return false;
}

bool VUpdateEngine::_WaitForPidToQuit()
{
	if (fCallerPID < 0)
	{
		LogInfo("Skipping process wait (negative pid)");
		return true;
	}
	LogInfo("Waiting for process %d to quit", int(fCallerPID));
	const uint32 start = uint32(VSystem::GetCurrentTime());
	uint32 now = start;
	bool present = true;
	std::vector<int> pids;
	// Unsigned 32-bit subtraction: right across the wrap of the millisecond clock.
	while (present && now - start <= 59999)
	{
		pids.clear();
		VSystem::GetProcessList(pids);
		present = pids.empty();
		for (int pid : pids)
		{
			if (pid == fCallerPID)
				present = true;
		}
		VTask::Sleep(500);
		now = uint32(VSystem::GetCurrentTime());
	}
	if (present && now - start >= 60000)
	{
		LogError("Process %d still exists after maximum wait time. Giving up.", int(fCallerPID));
		_ThrowError(VE_UPDATER_CALLER_WAIT_FAILED);
		return false;
	}
	VTask::Sleep(1000);
	LogInfo("Process %d has quit. Proceeding.", int(fCallerPID));
	return true;
}

void VUpdateEngine::_LaunchApplication(const VFilePath& bundle, bool* notExecutable)
{
	if (notExecutable != nullptr)
		*notExecutable = false;
	VString command("open -a ");
	command = command + QuotedForCommandLine(bundle.GetPath(FPS_POSIX));
	if (!fLinkFile.GetPath(FPS_SYSTEM).IsEmpty())
	{
		command = command + VString(" --args ");
		command = command + QuotedForCommandLine(fLinkFile.GetPath(FPS_POSIX));
		if (fRestartHeadless)
			command = command + VString(" --headless");
	}
	else if (fRestartHeadless)
		command = command + VString(" --args --headless");
	LogInfo("Restarting installed application (%S)...", &command);

	VMemoryBuffer<> output;
	VMemoryBuffer<> errors;
	int32 exitStatus = 0;
	const VError result = VProcessLauncher::ExecuteCommandLine(command, 0, nullptr, &output, &errors, nullptr, nullptr,
		&exitStatus, nullptr, nullptr, true, false);
	// The opener answers 1 or 126, with its reason on its standard error, when the executable could not start.
	const bool notStarted = result == VE_OK && (exitStatus == kOpenerCouldNotStart || exitStatus == kOpenerCouldNotExecute) &&
		errors.GetDataSize() > 0;
	if (notExecutable != nullptr)
		*notExecutable = notStarted && exitStatus == kOpenerCouldNotExecute;
	if (result != VE_OK || notStarted)
	{
		if (notStarted)
		{
			VString reason;
			reason.FromBlock(errors.GetDataPtr(), size_t(errors.GetDataSize()), kCharSet_UTF8);
			reason.Trim();
			LogError("%S", &reason);
		}
		LogError("Failed to restart updated application (returned error %d - exit status %d)", int(int32(result)),
			int(exitStatus));
		_ThrowError(VE_UPDATER_RELAUNCH_FAILED);
		return;
	}
	LogInfo("Updated application restarted, returned %d", int(exitStatus));
}

void VUpdateEngine::_LogProgressToCaller(const char* step, int32 value)
{
	if (!fReportToCaller)
		return;
	printf("%s,%d\n", step, int(value));
	fflush(stdout);
}

}  // namespace velk
