#include "files/VFileSystemNotifier.h"

#include <new>

#include "files/VFolder.h"
#include "files/mac/XMacFileSystemNotification.h"
#include "kernel/strings/VString.h"
#include "runtime/VTask.h"
#include "runtime/VProcessIPC.h"

namespace velk {

VFileSystemNotifier::VChangeData::VChangeData(const VFilePath& folderPath, EventKind kinds, IEventHandler* handler,
	VTask* task, XMacFileSystemNotification* owner)
	: fFolderPath(folderPath)
	, fKinds(kinds)
	, fHandler(handler)
	, fTask(task)
	, fOwner(owner)
{
	if (fTask != nullptr)
		fTask->Retain();
}

VFileSystemNotifier::VChangeData::~VChangeData()
{
	if (fTask != nullptr)
		fTask->Release();
}

VFileSystemNotifier::VChangeMessage::VChangeMessage(VFileSystemNotifier* notifier, VChangeData* data)
	: fNotifier(notifier)
	, fData(data)
{
	fData->Retain();
}

VFileSystemNotifier::VChangeMessage::~VChangeMessage()
{
	fData->Release();
}

void VFileSystemNotifier::VChangeMessage::DoExecute()
{
	// A stopped watch may have outlived its notifier.
	if (!fData->fStopped.load())
		fNotifier->EventSignaledCallback(fData);
}

VFileSystemNotifier::VFileSystemNotifier()
	: fPlatform(new XMacFileSystemNotification(this))
{
}

VFileSystemNotifier::~VFileSystemNotifier()
{
	for (;;)
	{
		VChangeData* data;
		bool isLast;
		{
			StLocker locker(&fLock);
			if (fWatches.empty())
				break;
			data = fWatches.back();
			fWatches.pop_back();
			data->fStopped = true;
			isLast = fWatches.empty();
		}
		fPlatform->StopWatchingForChanges(data, isLast);
		data->Release();
	}
	delete fPlatform;
}

VFileSystemNotifier* VFileSystemNotifier::Instance()
{
	// The command-line process frame owns the process's notifier.
	return VProcessIPC::sInstance != nullptr ? VProcessIPC::sInstance->GetFileSystemNotifier() : nullptr;
}

VError VFileSystemNotifier::StartWatchingForChanges(const VFolder& folder, EventKind kinds, IEventHandler* handler,
	int latency)
{
	StLocker locker(&fLock);
	VString path, other;
	folder.GetPath().GetPath(path);
	for (const VChangeData* data : fWatches)
	{
		data->fFolderPath.GetPath(other);
		if (data->fHandler == handler && other.EqualToString(path))
			return VE_FS_NOTIFICATION_ALREADY_WATCHING;
	}
	return fPlatform->StartWatchingForChanges(folder, kinds, handler, latency);
}

VError VFileSystemNotifier::StopWatchingForChanges(const VFolder& folder, IEventHandler* handler)
{
	VChangeData* found = nullptr;
	bool isLast = false;
	{
		StLocker locker(&fLock);
		VString path, other;
		folder.GetPath().GetPath(path);
		for (auto it = fWatches.begin(); it != fWatches.end(); ++it)
		{
			(*it)->fFolderPath.GetPath(other);
			if ((*it)->fHandler == handler && other.EqualToString(path))
			{
				found = *it;
				fWatches.erase(it);
				break;
			}
		}
		if (found == nullptr)
			return VE_FS_NOTIFICATION_NOT_WATCHING;
		found->fStopped = true;
		found->fChanges.clear();
		isLast = fWatches.empty();
	}
	// Outside the lock: stopping waits for a report under way on the main run loop, which takes the lock.
	fPlatform->StopWatchingForChanges(found, isLast);
	found->Release();
	return VE_OK;
}

void VFileSystemNotifier::PushChangeData(VChangeData* data)
{
	StLocker locker(&fLock);
	data->Retain();
	fWatches.push_back(data);
}

void VFileSystemNotifier::SignalChange(VChangeData* data)
{
	if (data->fTask == nullptr)
		return;
	VChangeMessage* message = new (std::nothrow) VChangeMessage(this, data);
	if (message == nullptr)
		return;
	message->PostTo(data->fTask);
	message->Release();
}

void VFileSystemNotifier::EventSignaledCallback(VChangeData* data)
{
	std::vector<std::pair<VFilePath, EventKind>> changes;
	{
		StLocker locker(&fLock);
		if (data->fStopped)
			return;
		changes.swap(data->fChanges);
	}
	// The handler runs outside the lock: it may stop watches, which waits for the main run loop's report, and
	// that report takes the lock.
	std::vector<VFilePath> run;
	std::vector<VString> texts;
	EventKind runKind = kFileModified;
	const auto flush = [&]
	{
		if (!run.empty() && data->fHandler != nullptr)
			data->fHandler->FileSystemEventHandler(run, runKind);
		run.clear();
		texts.clear();
	};
	for (const auto& [path, kind] : changes)
	{
		if (kind != runKind)
		{
			flush();
			runKind = kind;
		}
		VString text;
		path.GetPath(text);
		bool seen = false;
		for (const VString& other : texts)
			seen = seen || other.EqualToStringRaw(text);
		if (seen)
			continue;
		run.push_back(path);
		texts.push_back(text);
	}
	flush();
}

}  // namespace velk
