#include "runtime/VProcessIPC.h"

#include <signal.h>
#include <string.h>

#include <new>
#include <vector>

#include "files/VFileSystemNotifier.h"
#include "files/VSleepNotifier.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VTask.h"
#include "runtime/mac/XPosixProcessIPC.h"
#include "updater/VCommandLineParser.h"

namespace velk {

constinit VProcessIPC* VProcessIPC::sInstance = nullptr;
constinit int VProcessIPC::sArgumentCount = 0;
constinit char** VProcessIPC::sArguments = nullptr;

VProcessIPC::VProcessIPC()
{
	sInstance = this;
}

VProcessIPC::~VProcessIPC()
{
	delete fFileSystemNotifier;
	delete fSleepNotifier;
	delete fPosix;
	if (sInstance == this)
		sInstance = nullptr;
}

void VProcessIPC::SetCommandLine(int argumentCount, char** arguments)
{
	sArgumentCount = argumentCount;
	sArguments = arguments;
}

bool VProcessIPC::Init(uint32 flags)
{
	if (fCommandLineInitCalled)
		return fCommandLineInitResult;
	// A reader that closed its end of a pipe must not end the program: writes fail with EPIPE instead.
	::signal(SIGPIPE, SIG_IGN);
	if (!VProcess::Init(flags))
	{
		fExitCode = 1;
		return false;
	}
	fCommandLineInitCalled = true;

	int result;
	{
		std::vector<VString> arguments;
		for (int i = 0; i < sArgumentCount && sArguments != nullptr; ++i)
		{
			// The serial number some systems add when they start an application is not ours to parse.
			if (sArguments[i] == nullptr || ::strncmp(sArguments[i], "-psn_", 5) == 0)
				continue;
			arguments.push_back(VCommandLineParser::ArgumentFromBytes(sArguments[i]));
		}
		VCommandLineParser parser(arguments);
		result = DoParseCommandLine(parser);
	}
	fExitCode = (result == 0 || result == 2) ? 0 : 1;
	fCommandLineInitResult = result == 0;
	if (!fCommandLineInitResult)
		return false;

	fPosix = new (std::nothrow) XPosixProcessIPC;
	if (fPosix == nullptr || !fPosix->Init())
	{
		fCommandLineInitResult = false;
		fExitCode = 1;
		return false;
	}
	if ((flags & 0x40) != 0)
		fFileSystemNotifier = new (std::nothrow) VFileSystemNotifier;
	fSleepNotifier = new (std::nothrow) VSleepNotifier;
	if (fSleepNotifier != nullptr)
	{
		// A machine that tells nothing of its sleep is no reason to stop: what it raises is dropped.
		StErrorContextInstaller quiet(false, true);
		fSleepNotifier->Init();
	}
	return true;
}

int VProcessIPC::DoParseCommandLine(VCommandLineParser&)
{
	return 0;
}

void VProcessIPC::DoRun()
{
	while (IsRunning())
		VTask::ExecuteMessagesWithTimeout(100, true);
}

bool VProcessIPC::HoldEndingSignals()
{
	return fPosix != nullptr && fPosix->HoldEndingSignals();
}

void VProcessIPC::ReleaseEndingSignals()
{
	if (fPosix != nullptr)
		fPosix->ReleaseEndingSignals();
}

int32 VProcessIPC::GetQuitSignal() const
{
	return fPosix != nullptr ? int32(XPosixProcessIPC::GetQuitSignal()) : 0;
}

}  // namespace velk
