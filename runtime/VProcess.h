// The one application object of a program built on the toolbox: brings the toolbox's layers up in a
// fixed order, holds the process-wide services and takes them down again.
#pragma once

#include "kernel/VExport.h"

#include <set>

#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class ILocalizer;
class VActivityToken;
class ILogger;
class VIntlMgr;
class VJSONClassStore;
class VJSONObject;
class VString;
class VBootLogListener;
class VLogger;
class VMetricsManager;

class VELK_API VProcess : public VObject
{
public:
	// Becomes the process instance.
	VProcess();
	// Takes down what Init brought up; the instance is null afterwards.
	~VProcess() override;

	VProcess(const VProcess&) = delete;
	VProcess& operator=(const VProcess&) = delete;

	// Brings the toolbox up the first time (the task manager, making the calling thread the main task)
	// and remembers the result; later calls return it without doing anything. The flags choose
	// optional services (0x02 fibers, 0x10 the process logger).
	bool Init(uint32 flags);

	// The process's international manager, not retained; null until one is made.
	VIntlMgr* GetIntlManager() const { return fIntlMgr; }
	// The application's localizer, not owned; null until the application sets one.
	ILocalizer* GetLocalizer() const { return fLocalizer; }
	void SetLocalizer(ILocalizer* localizer) { fLocalizer = localizer; }
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
	// The class object of that name in the class store of that namespace (the process store or one of
	// its component stores), or null.
	VRefPtr<VJSONObject> GetClassObject(const VString& nameSpace, const VString& className) const;

	bool WithFibers() const { return fFibersWanted; }

	// The set of activity tokens, under the activity lock: false, nothing kept, when memory is short.
	bool RegisterActivityToken(VActivityToken* token);
	void UnregisterActivityToken(VActivityToken* token);
	// True while a token exists, else while fewer than milliseconds passed since the last one went.
	bool HasSomeActivityTokens(uint32 milliseconds) const;

	// The name log bags carry as their source: the main bundle's "CFBundleName"; empty outside a bundle.
	static void GetLogSourceIdentifier(VString& identifier);

	// The one process object: set by the constructor, null before and after its life.
	static VProcess* sInstance;

private:
	bool _Init(uint32 flags);
	void _DeInit();

	mutable VCriticalSection fActivityLock;
	std::set<VActivityToken*> fActivityTokens;
	uint32 fLastActivityTime;
	bool fInitCalled = false;
	bool fInitResult = false;
	bool fFibersWanted = false;
	// Filled by the start-up steps as the services they make join the toolbox.
	VIntlMgr* fIntlMgr = nullptr;
	ILocalizer* fLocalizer = nullptr;
	VLogger* fLogger = nullptr;
	VBootLogListener* fBootLogListener = nullptr;
	VMetricsManager* fMetricsManager = nullptr;
	VJSONClassStore* fClassStore = nullptr;
};

}  // namespace velk
