// The POSIX half of VProcessLauncher: spawns the child with posix_spawn (a bare name found through the
// system command table, then PATH), talks to it through pipes, waits for its end without collecting it, and
// collects the children left running from a process-wide watch set. Platform part: it returns codes and
// pushes nothing, except velk 8 when the wait limit passed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "runtime/VError.h"
#include "updater/VProcessLauncher.h"

namespace velk {

class XPosixOutputReader;
class XPosixWaitLimit;

class XPosixProcessLauncher
{
public:
	XPosixProcessLauncher();
	~XPosixProcessLauncher();
	XPosixProcessLauncher(const XPosixProcessLauncher&) = delete;
	XPosixProcessLauncher& operator=(const XPosixProcessLauncher&) = delete;

	void SetDefaultDirectory(const VString& posixPath);
	void SetEnvironmentVariable(const VString& name, const VString& value);
	void SetEnvironmentVariables(const VEnvironmentVariables& variables);
	void SetBinaryPath(const VString& path);
	int32 CreateArgumentsFromFullCommandLine(const VString& commandLine);
	void AddArgument(const VString& argument);
	void ClearArguments();
	void SetWaitClosingChildProcess(int32 milliseconds) { fWaitLimit = milliseconds; }
	void SetRedirectStandardInput(bool redirect) { fRedirectInput = redirect; }
	void SetRedirectStandardOutput(bool redirect) { fRedirectOutput = redirect; }
	void SetQuoteArgumentsIfNeeded(bool quote) { fQuoteArgumentsIfNeeded = quote; }
	void EnableProcessTreeKill(bool enable) { fProcessTreeKill = enable; }
	int32 GetPid() const { return fPid; }
	int32 GetExitStatus() const { return fExitStatus; }
	const std::string& GetBinaryPath() const { return fBinaryPath; }

	void CloseStandardInput();
	int32 WriteToChild(const void* data, uint32 length, bool closeAfter);
	int32 WaitForData();
	int32 ReadFromChild(char* buffer, uint32 length);
	int32 ReadErrorFromChild(char* buffer, uint32 length);
	int32 ReadFromChildAndShutdown(const VChildOutputHandler& onOutput, const VChildOutputHandler& onError);
	VError ReadStd(VMemoryBuffer<>* output, VMemoryBuffer<>* errors);
	// Feeds length bytes of input (none when null) to the child while reading its output and error as ReadStd
	// does, and closes its standard input once all is written or the child stops reading.
	VError FeedAndReadStd(const void* input, size_t length, VMemoryBuffer<>* output, VMemoryBuffer<>* errors);

	static bool KillProcess(int32 pid);
	int32 Start(const VEnvironmentVariables* extraVariables);
	bool IsRunning();
	int32 Shutdown(bool kill, bool processTreeKill);

	// The command-line splitting of CreateArgumentsFromFullCommandLine on UTF-8 bytes; pieces is replaced.
	static size_t SplitCommandLine(const std::string& text, std::vector<std::string>& pieces);
	// A name with '/' is kept as given. A bare name is taken from the system command table (ENOENT when its
	// path is not an executable file), else from the folders of pathList, the first executable regular file
	// whose path fits PATH_MAX; never from the current folder. 0 with found set, else ENOENT.
	static int FindBinary(const std::string& name, const std::string& pathList, std::string& found);
	static void RegisterSystemCommand(const std::string& name, const std::string& absolutePath);
	static void UnregisterSystemCommand(const std::string& name);

private:
	enum EPipe
	{
		kINPUT = 0,
		kOUTPUT = 1,
		kERROR = 2,
		kSTART_STATUS = 3,
		kPIPE_COUNT = 4
	};

	int _OpenPipes();
	void _ClosePipes();
	static void _CloseDescriptor(int& descriptor);
	// Step 4 of Shutdown: collects the child when it has ended (exit code, -127 after a signal) or when the
	// system no longer knows it. True when it ended.
	bool _PollChild();
	// The child is gone for good: no exit watch, no timer, no pid.
	void _ForgetChild();
	// SIGTERM, then SIGQUIT, then SIGKILL, each followed by up to 5000 ms of checks every 30 ms.
	void _TerminateIndependantChildProcess();
	// One signal and its checks; true once the child was collected (its wait status in status).
	bool _SignalAndWait(int signalNumber, int& status);
	void _KillGroupIfAsked(bool processTreeKill);
	void _StopReader();
	// ReadStd, and with feedInput FeedAndReadStd.
	VError _Exchange(const void* input, size_t length, bool feedInput, VMemoryBuffer<>* output,
		VMemoryBuffer<>* errors);
	// Collects the watched children that have ended, under the watch set's lock.
	static void _ReapWatchedChildren();
	static void _WatchChild(int pid);

	std::string fDefaultDirectory;  // empty: none
	VEnvironmentVariables fEnvironment;
	std::string fBinaryPath;
	std::vector<VString> fArguments;  // the first is the binary
	bool fRunning = false;
	int32 fExitStatus = 0;
	int32 fWaitLimit = VProcessLauncher::kWAIT_WITHOUT_LIMIT;
	int32 fPid = 0;
	int fPipes[kPIPE_COUNT][2];
	bool fRedirectInput = true;
	bool fRedirectOutput = true;
	std::unique_ptr<XPosixOutputReader> fReader;
	std::unique_ptr<XPosixWaitLimit> fTimer;
	int fExitWatch = -1;  // readable once the child ended
	bool fQuoteArgumentsIfNeeded = true;
	bool fProcessTreeKill = false;
	int32 fGroupToKill = 0;  // the negated pid
};

}  // namespace velk
