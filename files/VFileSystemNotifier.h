// Lets a task watch a folder and be told, on its own message queue, which items in it were created, modified
// or deleted. The platform part turns the system's folder-level events into per-item changes by comparing a
// snapshot of the folder's tree with what is there now.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <utility>
#include <vector>

#include "files/VFilePath.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VError.h"
#include "runtime/VMessage.h"

namespace velk {

class VFolder;
class VTask;
class XMacFileSystemNotification;

// A watch asked for an existing folder path and handler a second time.
constexpr VError VE_FS_NOTIFICATION_ALREADY_WATCHING = MakeVError(kVELK_SIGNATURE, 659);
// No watch of that folder path and handler.
constexpr VError VE_FS_NOTIFICATION_NOT_WATCHING = MakeVError(kVELK_SIGNATURE, 650);

class VELK_API VFileSystemNotifier : public VObject
{
public:
	// A bit set: a watch asks for any combination; each reported change carries exactly one bit.
	enum EventKind : uint32
	{
		kFileModified = 1,
		kFileAdded = 2,
		kFileDeleted = 4
	};

	// Implemented by clients; called on the task that started the watch.
	class IEventHandler
	{
	public:
		virtual ~IEventHandler() = default;
		// The changed items of one kind, each once, in the order found; a folder's path is a folder path.
		virtual void FileSystemEventHandler(const std::vector<VFilePath>& paths, EventKind kind) = 0;
	};

	// One watch; made with one reference.
	class VELK_API VChangeData : public VObject, public IRefCountable
	{
	public:
		VChangeData(const VFilePath& folderPath, EventKind kinds, IEventHandler* handler, VTask* task,
			XMacFileSystemNotification* owner);
		// Releases the task.
		~VChangeData() override;

		VChangeData(const VChangeData&) = delete;
		VChangeData& operator=(const VChangeData&) = delete;

		const VFilePath fFolderPath;
		const EventKind fKinds;
		IEventHandler* const fHandler;	// not retained
		VTask* const fTask;				// retained; null without a task manager, and then nothing is delivered
		XMacFileSystemNotification* const fOwner;
		// Under the notifier's lock.
		std::vector<std::pair<VFilePath, EventKind>> fChanges;
		// Set under the notifier's lock when the watch is stopped: what is still on its way is not delivered,
		// and a message executed after the notifier's end does not touch it.
		std::atomic<bool> fStopped {false};
	};

	// Runs EventSignaledCallback on the watch's task.
	class VChangeMessage : public VMessage
	{
	public:
		// Retains the watch.
		VChangeMessage(VFileSystemNotifier* notifier, VChangeData* data);
		~VChangeMessage() override;
		void DoExecute() override;

	private:
		VFileSystemNotifier* const fNotifier;
		VChangeData* const fData;
	};

	VFileSystemNotifier();
	// Stops every watch, from the last to the first, then deletes the platform part.
	~VFileSystemNotifier() override;

	VFileSystemNotifier(const VFileSystemNotifier&) = delete;
	VFileSystemNotifier& operator=(const VFileSystemNotifier&) = delete;

	// The process frame's notifier; null while there is none.
	static VFileSystemNotifier* Instance();

	// Watches folder for the kinds asked, reporting to handler on the calling task, the changes of latency
	// milliseconds gathered into one report. VE_FS_NOTIFICATION_ALREADY_WATCHING when a watch of the same path
	// (compared as text by the collator) and handler exists; 'POSX' | errno (never 0) when the system's
	// change feed cannot be made or started, ENOSPC when the user's watch limit is spent. Pushes nothing.
	VError StartWatchingForChanges(const VFolder& folder, EventKind kinds, IEventHandler* handler, int latency);

	// Ends the watch of that path and handler: VE_FS_NOTIFICATION_NOT_WATCHING when there is none. Changes on
	// their way are dropped. Waits for the platform part's report under way, so it must not be called from a
	// handler holding a lock that the notifier's callers take. Pushes nothing.
	VError StopWatchingForChanges(const VFolder& folder, IEventHandler* handler);

	// Retains and appends a watch (the platform part's call).
	void PushChangeData(VChangeData* data);
	// Posts a message running EventSignaledCallback to the watch's task, without waiting.
	void SignalChange(VChangeData* data);
	// On the watch's task: takes the watch's pending changes out and calls its handler once per run of
	// changes of one kind, each path once in its run. Nothing for a stopped watch.
	void EventSignaledCallback(VChangeData* data);

	// The lock of the watch array and of every watch's change list.
	VCriticalSection& GetLock() { return fLock; }

private:
	XMacFileSystemNotification* fPlatform;
	std::vector<VChangeData*> fWatches;	 // retained, in registration order
	VCriticalSection fLock;
};

}  // namespace velk
