// The updater's application object: reads the options and the two bundle paths, sets up the texts of its
// errors, runs the update and hands the outcome to the entry point as the exit code.
#pragma once

#include <atomic>

#include "files/VFilePath.h"
#include "runtime/VProcessIPC.h"

namespace velk {

class VJSONValue;
class VLocalizationManager;
class VFolder;
class VLog4jMsgFileLogger;

class VUpdateEngine : public VProcessIPC
{
public:
	VUpdateEngine();
	// Releases the localization manager.
	~VUpdateEngine() override;

	// The command-line frame, then the localization of the bundle; false, nothing more done, when the
	// frame stops (the exit code says why).
	bool Init(uint32 flags) override;
	// The run: the log, then the update. A signal that asked the process to quit before the run began ends
	// it at once, logged, as a failed update ('UPRy' 100): nothing was changed.
	void DoRun() override;
	// Until the run begins, a quit request only waits for it (DoRun ends the run); afterwards the update
	// under way is finished first, as VProcess quits. From the signal watcher's thread.
	void QuitAsynchronously(void* reason) override;
	// Whether the run began: a process that was never run did not update anything.
	bool HasRun() const { return fRunBegun.load(); }
	// Flushes the process logger, then stops and deletes the file logger.
	void DoQuit() override;
	int DoParseCommandLine(VCommandLineParser& parser) override;

	// Empty text clears path; otherwise the text, ending with '/', becomes a folder path in style.
	static void FixFolderPathSpec(const VString& text, FilePathStyle style, VFilePath& path);

	const VFilePath& GetLogFolder() const { return fLogFolder; }
	const VFilePath& GetClientCustomizationFile() const { return fClientCustomizationFile; }
	const VFilePath& GetOutdatedApplication() const { return fOutdatedApplication; }
	const VFilePath& GetUpToDateApplication() const { return fUpToDateApplication; }
	const VFilePath& GetInstallDestination() const { return fInstallDestination; }
	int32 GetCallerPID() const { return fCallerPID; }
	bool GetReportToCaller() const { return fReportToCaller; }
	bool IsSilent() const { return fSilent; }
	const VFilePath& GetLinkFile() const { return fLinkFile; }
	bool GetRestartHeadless() const { return fRestartHeadless; }

	// The client customization: the link file written into the up-to-date bundle and its executable made
	// executable; true when no error was left.
	bool _FinishClientCustomization();
	// Writes the link file when the customization names a server address; true.
	bool _SetIPAdressOnClientPref(const VJSONValue& customization, const VFilePath& upToDateBundle);
	// Adds the three execute bits the up-to-date bundle's executable lacks; true when no error was left.
	bool _FinishMacClientCustomization(const VJSONValue& customization);

private:
	void _InitLocalizationManager();
	// Same as DoQuit; nothing calls it.
	void _DeInitLog();
	// Opens the dated log file in the log folder; false when it could not be (errors pushed).
	bool _InitLog();
	// The update's steps, in an error context of their own whose errors reach DoRun's.
	void _ApplyUpdate();
	bool _WaitForPidToQuit();
	// The executable that the opener will start once the up-to-date bundle stands at the install
	// destination (CFBundleExecutable, else the destination's name) exists and may be run; else 'UPRy' 16
	// with its path, false.
	bool _CheckExecutable();
	// Relaunches the installed bundle through the opener; errors pushed. notExecutable, when given, tells
	// whether the opener found the bundle at fault: no executable, or one the system could not execute.
	void _LaunchApplication(const VFilePath& bundle, bool* notExecutable = nullptr);
	// "step,value" on standard output while the caller reads it.
	void _LogProgressToCaller(const char* step, int32 value);

	VFilePath fLogFolder;
	VFilePath fClientCustomizationFile;
	VFilePath fOutdatedApplication;
	VFilePath fUpToDateApplication;
	VFilePath fInstallDestination;
	VLog4jMsgFileLogger* fFileLogger = nullptr;
	VLocalizationManager* fLocalizationManager = nullptr;
	int32 fCallerPID = -1;
	bool fReportToCaller = false;
	bool fSilent = false;
	VFilePath fLinkFile;
	bool fRestartHeadless = false;
	VString fLogName;  // the dated base name of the log files
	std::atomic<bool> fRunBegun{false};
};

}  // namespace velk
