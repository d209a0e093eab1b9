// Starts a child process from a command line or a binary and its arguments, feeds its standard input,
// captures its standard output and error, waits for it and reports its exit status. A thin facade over the
// POSIX half XPosixProcessLauncher; one thread at a time uses a launcher.
#pragma once

#include "kernel/VExport.h"

#include <functional>
#include <map>
#include <string_view>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class VFilePath;
class XPosixProcessLauncher;

// Environment names in code-unit order.
struct VEnvironmentNameLess
{
	bool operator()(const VString& a, const VString& b) const
	{
		return std::u16string_view(a.GetCPointer(), size_t(a.GetLength()))
			< std::u16string_view(b.GetCPointer(), size_t(b.GetLength()));
	}
};

using VEnvironmentVariables = std::map<VString, VString, VEnvironmentNameLess>;

// Receives one block of a child's output, on the launcher's reading thread.
using VChildOutputHandler = std::function<void(const void* bytes, size_t length)>;

class VELK_API VProcessLauncher
{
public:
	// ExecuteCommandLine's option: start and return at once, without waiting or capturing.
	static constexpr int32 kDONT_WAIT_AND_CAPTURE = 2;
	// The wait limit that means no limit.
	static constexpr int32 kWAIT_WITHOUT_LIMIT = 0x7FFFFFFF;

	VProcessLauncher();
	// A child still running is shut down without being killed (it joins the watched children when it has
	// not ended); the wait-limit timer is cancelled, so it never kills a group after the launcher is gone.
	~VProcessLauncher();
	VProcessLauncher(const VProcessLauncher&) = delete;
	VProcessLauncher& operator=(const VProcessLauncher&) = delete;

	// Runs commandLine, split as CreateArgumentsFromFullCommandLine does, then extraArguments, in
	// defaultDirectory with environment when given; every pointer may be null. The standard-input bytes are
	// fed while the output and error are read into their buffers (null buffers discard), then the child is
	// waited for and exitStatus set (-127 when a signal ended it). With kDONT_WAIT_AND_CAPTURE the call
	// returns once the input is written. With launcher, the running launcher is handed to the caller, who
	// deletes it, and nothing is waited for. Answers 0 when the child started, else the start's error, which
	// is not pushed: 'POSX' errno (ENOENT for a binary not found) or velk 1; exitStatus is 0 then. A shutdown
	// that failed answers its error and leaves exitStatus 0.
	static VError ExecuteCommandLine(const VString& commandLine, int32 options, const VMemoryBuffer<>* standardInput,
		VMemoryBuffer<>* standardOutput, VMemoryBuffer<>* standardError, const VEnvironmentVariables* environment,
		const VFilePath* defaultDirectory, int32* exitStatus, VProcessLauncher** launcher,
		const std::vector<VString>* extraArguments, bool quoteArgumentsIfNeeded, bool processTreeKill);

	// A bare command name (no '/') is looked up in this process-wide table before PATH; a registered path
	// that is missing or not executable makes the start fail with ENOENT. Taken under the table's own lock.
	static void RegisterSystemCommand(const VString& name, const VString& absolutePath);
	static void UnregisterSystemCommand(const VString& name);

	// The folder the child starts in.
	void SetDefaultDirectory(const VFilePath& folder);
	// Variables given to the child: with none, it gets this process's environment; with some, only those.
	void SetEnvironmentVariable(const VString& name, const VString& value);
	// Sets each variable of the map, the others kept.
	void SetEnvironmentVariables(const VEnvironmentVariables& variables);
	// The program, also made the first argument.
	void SetBinaryPath(const VString& path);
	// Replaces the arguments by the pieces of commandLine: spaces separate them; a piece opened by '"' or
	// '\'' runs to the same mark, the marks dropped; a backslash makes the next byte literal. The first piece
	// is the binary. Answers the number of pieces.
	int32 CreateArgumentsFromFullCommandLine(const VString& commandLine);
	// Appends an argument; an empty text is ignored.
	void AddArgument(const VString& argument);
	// The same, between double quotation marks when quote is true.
	void AddArgument(const VString& argument, bool quote);
	// Drops every argument but the binary.
	void ClearArguments();
	// How long Shutdown waits for the child's end before its group is killed and velk 8 thrown; 0 does not
	// wait, kWAIT_WITHOUT_LIMIT (the default) waits without limit.
	void SetWaitClosingChildProcess(int32 milliseconds);
	// Whether the child's standard input, and its output and error, are pipes of the launcher (default) or
	// this process's own.
	void SetRedirectStandardInput(bool redirect);
	void SetRedirectStandardOutput(bool redirect);
	void CloseStandardInput();
	// Writes all of data to the child's standard input (blocking), closing it after when asked. Answers the
	// count written, -1 without data, when not running, with standard input closed, or when the child no
	// longer reads (this process is never killed by SIGPIPE for it).
	int32 WriteToChild(const void* data, uint32 length, bool closeAfter);
	// Blocks until the output (bit 1) or the error (bit 2) pipe can be read; 4 when the child ended first
	// (its exit status taken), 0 without pipes or on a failed wait.
	int32 WaitForData();
	// Reads what is there now: the count read, 0 when nothing is, -1 at the end, on error, for a null buffer
	// or a zero length.
	int32 ReadFromChild(char* buffer, uint32 length);
	int32 ReadErrorFromChild(char* buffer, uint32 length);
	// Reads both streams to their end on a thread of its own, handing each block to its handler (either may
	// be empty), then shuts down without kill. -1 when the reading thread could not be had.
	int32 ReadFromChildAndShutdown(const VChildOutputHandler& onOutput, const VChildOutputHandler& onError);
	// Reads the output and the error together to their ends, appending them to the buffers (null discards),
	// so a child filling either pipe never blocks the other. VE_MEMORY_FULL when a buffer could not grow (the
	// streams are still read to their ends).
	VError ReadStd(VMemoryBuffer<>* output, VMemoryBuffer<>* errors);
	void SetQuoteArgumentsIfNeeded(bool quote);
	int32 GetPid() const;
	// Sends SIGTERM to pid; false for pid <= 0 (those name groups) and when the signal was not sent.
	static bool KillProcess(int32 pid);
	// Lets Shutdown kill the child's whole process group when asked to.
	void EnableProcessTreeKill(bool enable);
	// 0 when started; the spawn's errno (ENOENT when the binary is not found); -1 when the pipes or the start
	// failed otherwise. Pushes nothing: the caller tells what failed. The child leads a process group of its
	// own and gets only descriptors 0 to 2.
	int32 Start();
	// The same with extra variables over the launcher's own.
	int32 Start(const VEnvironmentVariables& extraVariables);
	bool IsRunning();
	// Waits for the child's end as the wait limit says; with kill, ends it (SIGTERM, SIGQUIT then SIGKILL, up
	// to 5000 ms each) and collects it; without, a child still running is watched and collected later.
	// Throws velk 8 and answers -1 when the wait limit passed (the child's group was killed); else 0.
	int32 Shutdown(bool kill, bool processTreeKill);
	// Exit code of the child; -127 when a signal ended it (seen before any kill); 0 before its end.
	int32 GetExitStatus() const;

private:
	XPosixProcessLauncher* fLauncher;  // owned
};

}  // namespace velk
