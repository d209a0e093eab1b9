// The one application object of a program built on the toolbox: brings the toolbox's layers up in a
// fixed order, knows the application bundle and its folders, holds the process-wide services, runs the
// application on the main task and takes everything down again.
#pragma once

#include "kernel/VExport.h"

#include <set>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/IMessageable.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class ILocalizer;
class VActivityToken;
class ILogger;
class VFile;
class VFilePath;
class VFileSystemNamespace;
class VFolder;
class VIntlMgr;
class VJSONClassStore;
class VJSONObject;
class VBootLogListener;
class VLogger;
class VMetricsManager;

// Folder kinds of RetainFolder.
constexpr OsType kPROCESS_FOLDER_EXECUTABLE = FourCharCode("EXEC");
constexpr OsType kPROCESS_FOLDER_CONTENTS = FourCharCode("PLST");
constexpr OsType kPROCESS_FOLDER_BUNDLE = FourCharCode("BNDL");
constexpr OsType kPROCESS_FOLDER_RESOURCES = FourCharCode("RSRC");
constexpr OsType kPROCESS_FOLDER_NATIVE_COMPONENTS = FourCharCode("NCMP");
constexpr OsType kPROCESS_FOLDER_DTDS = FourCharCode("DTDs");
constexpr OsType kPROCESS_FOLDER_XSDS = FourCharCode("XSDs");
constexpr OsType kPROCESS_FOLDER_XSLS = FourCharCode("XSLs");
constexpr OsType kPROCESS_FOLDER_JSON_SCHEMAS = FourCharCode("JSNs");

class VELK_API VProcess : public VObject, public virtual IMessageable
{
public:
	// Becomes the process instance; reads the product name and version of the main bundle.
	VProcess();
	// Takes down what Init brought up; the instance is null afterwards.
	~VProcess() override;

	VProcess(const VProcess&) = delete;
	VProcess& operator=(const VProcess&) = delete;

	// Brings the toolbox up the first time and remembers the result; later calls return it without doing
	// anything. The flags choose optional services (0x02 fibers, 0x10 the process logger).
	virtual bool Init(uint32 flags);
	// Marks the main task dying and wakes it, so that a run loop waiting on it returns. From any thread
	// (not from a signal handler: it takes locks).
	virtual void QuitAsynchronously(void* reason);
	// A new folder object of a kind of the table (kPROCESS_FOLDER_...), retained; null for other kinds.
	virtual VFolder* RetainFolder(OsType kind) const;
	// The name log bags carry as their source: the product name.
	virtual VString GetLogSourceIdentifier() const;
	// The class object of that name when the class store's namespace is nameSpace; else null.
	virtual VRefPtr<VJSONObject> GetClassObject(const VString& nameSpace, const VString& className) const;
	// The application's work and its end; empty here.
	virtual void DoRun();
	virtual void DoQuit();
	// Whether the system is at least that version; shows why not when it is not.
	virtual bool DoCheckSystemVersion(int32 version);

	// On the main task only, while it runs: Init(0x50) when nobody called it, then DoRun and DoQuit; the
	// main task is dying afterwards. A failed initialisation raises velk 4 and runs nothing.
	void Run();
	// True while the main task exists and is not dying.
	bool IsRunning() const;

	// The file of that name in the folder of kind, else in the folder of fallbackKind (when not 0);
	// retained; null when neither holds it.
	VFile* RetainFile(OsType kind, const VString& name, OsType fallbackKind = 0) const;
	// The product's own subfolder of a system folder (VFolder::RetainSystemFolder's kinds), or the system
	// folder itself for the kinds that hold no per-product folders; null when it does not exist and is not
	// to be made, or could not be.
	VFolder* RetainProductSystemFolder(int32 kind, bool create) const;

	// The running executable (the main bundle's when there is one).
	VFilePath GetExecutableFilePath() const;
	VFilePath GetExecutableFolderPath() const;
	VFile* RetainExecutableFile() const;

	// Info.plist's CFBundleName and "CFBundleShortVersionString"; empty when absent.
	const VString& GetProductName() const { return fProductName; }
	const VString& GetProductVersion() const { return fProductVersion; }
	const VString& GetProductFolderName() const { return fProductFolderName; }
	// "1.2.3 build 4.567": short "1.2.3", main "1", build "4.567", change list 567.
	VString GetShortProductVersion() const;
	VString GetMainProductVersion() const;
	VString GetBuildNumber() const;
	int32 GetChangeListNumber() const;

	// The process's international manager, not retained; null until one is made.
	VIntlMgr* GetIntlManager() const { return fIntlMgr; }
	// The application's localizer, not owned; null until the application sets one.
	ILocalizer* GetLocalizer() const { return fLocalizer; }
	void SetLocalizer(ILocalizer* localizer) { fLocalizer = localizer; }
	// The process's file-system namespace, not retained.
	VFileSystemNamespace* GetFileSystemNamespace() const { return fFileSystemNamespace; }
	// The process logger, null while there is none (it is made under the start-up flag 0x10).
	ILogger* GetLogger() const;
	// The logger only when it exists and accepts messages of that level.
	ILogger* GetLogger(int32 level) const;
	// Hands what the start-up listener kept back to the logger, so that the listeners attached since
	// receive it, then removes and releases that listener.
	void CleanBootLogListener();
	// The process's metrics manager, collection off until started.
	VMetricsManager* GetMetricsManager() const { return fMetricsManager; }
	// The JSON class store "ry", not retained; null until made.
	VJSONClassStore* GetClassStore() const { return fClassStore; }

	bool WithFibers() const { return fFibersWanted; }

	// The set of activity tokens, under the activity lock: false, nothing kept, when memory is short.
	bool RegisterActivityToken(VActivityToken* token);
	void UnregisterActivityToken(VActivityToken* token);
	// True while a token exists, else while fewer than milliseconds passed since the last one went.
	bool HasSomeActivityTokens(uint32 milliseconds) const;

	// This process's id.
	static int32 GetSystemID();
	// Whether a process of that id exists (one we may not signal counts).
	static bool IsProcessRunning(int32 pid);

	// The source name of log bags: the process instance's, else the main bundle's "CFBundleName", else
	// empty.
	static void GetLogSourceIdentifier(VString& identifier);

	// The one process object: set by Init, cleared when it is taken down (or destroyed); null before.
	static VProcess* sInstance;

private:
	bool _Init(uint32 flags);
	void _DeInit();
	bool _CheckCaseInsensitiveInstallFolder() const;
	bool _Init_FileSystems();

	mutable VCriticalSection fActivityLock;
	std::set<VActivityToken*> fActivityTokens;
	uint32 fLastActivityTime;
	bool fInitCalled = false;
	bool fInitResult = false;
	bool fFibersWanted = false;
	VIntlMgr* fIntlMgr = nullptr;
	ILocalizer* fLocalizer = nullptr;
	VFileSystemNamespace* fFileSystemNamespace = nullptr;
	VString fProductName;
	VString fProductVersion;
	VString fProductFolderName;
	VLogger* fLogger = nullptr;
	VBootLogListener* fBootLogListener = nullptr;
	VMetricsManager* fMetricsManager = nullptr;
	VJSONClassStore* fClassStore = nullptr;
};

}  // namespace velk
