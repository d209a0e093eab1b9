// The application object of programs without a user interface: turns the process arguments into a
// command line the application checks, ends the program in order on SIGTERM, SIGINT, SIGQUIT and SIGHUP, and
// keeps the exit code the entry point returns when start-up stops early.
#pragma once

#include "kernel/VExport.h"

#include "runtime/VProcess.h"

namespace velk {

class VCommandLineParser;
class VFileSystemNotifier;
class VSleepNotifier;
class XPosixProcessIPC;

class VELK_API VProcessIPC : public VProcess
{
public:
	VProcessIPC();
	// Deletes the notifiers and the signal part; the handlers stay installed and do nothing afterwards.
	~VProcessIPC() override;

	// The process frame, then the command line through DoParseCommandLine, the signal handlers and the
	// notifiers (the file-system one under flag 0x40). Runs once; later calls return the first result.
	bool Init(uint32 flags) override;
	// Executes the main task's messages until the process is asked to quit.
	void DoRun() override;
	// Registers and checks the application's options: 0 go on, 2 stop without error (help or version
	// printed), anything else stop with an error. 0 here.
	virtual int DoParseCommandLine(VCommandLineParser& parser);

	// 1 from construction; 0 once the command line was accepted or ended the start-up without error.
	int32 GetExitCode() const { return fExitCode; }
	void SetExitCode(int32 code) { fExitCode = code; }

	// While work that must not be cut short runs, every other signal whose default action would end the
	// process asks it to quit instead, as SIGTERM does: the quit comes once the work is done. False when
	// the handlers could not be installed (or before Init).
	bool HoldEndingSignals();
	void ReleaseEndingSignals();

	// The signal (SIGTERM, SIGINT, SIGQUIT, SIGHUP, or one held) that first asked the process to quit, 0
	// while none did or before Init. Known from the moment the signal was handled, whether or not the quit
	// request it makes has reached QuitAsynchronously yet.
	int32 GetQuitSignal() const;

	VFileSystemNotifier* GetFileSystemNotifier() const { return fFileSystemNotifier; }
	VSleepNotifier* GetSleepNotifier() const { return fSleepNotifier; }

	// The arguments main received, stored before anything else runs.
	static void SetCommandLine(int argumentCount, char** arguments);

	static VProcessIPC* sInstance;

private:
	bool fCommandLineInitCalled = false;
	bool fCommandLineInitResult = false;
	XPosixProcessIPC* fPosix = nullptr;
	VFileSystemNotifier* fFileSystemNotifier = nullptr;
	VSleepNotifier* fSleepNotifier = nullptr;
	int32 fExitCode = 1;

	static int sArgumentCount;
	static char** sArguments;
};

}  // namespace velk
