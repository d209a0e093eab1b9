#include "files/mac/XMacFileSystemNotification.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <set>

#include "files/VFolder.h"
#include "files/mac/XMacFilePath.h"
#include "kernel/strings/VString.h"
#include "platform/RunLoop.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {

namespace {

// A failure of the change feed; one the system gave no reason for is still a failure.
VError FeedFailure(int error)
{
	return MakeVError(kPOSIX_SIGNATURE, error != 0 ? error : EIO);
}

}  // namespace

XMacFileSystemNotification::XMacChangeData::XMacChangeData(const VFilePath& folderPath, const std::string& posixPath,
	VFileSystemNotifier::EventKind kinds, VFileSystemNotifier::IEventHandler* handler, VTask* task,
	XMacFileSystemNotification* owner)
	: VChangeData(folderPath, kinds, handler, task, owner)
	, fPosixPath(posixPath)
{
}

XMacFileSystemNotification::XMacChangeData::~XMacChangeData()
{
	fStream.reset();
	ClearDirectorySnapshot(fSnapshot);
}

XMacFileSystemNotification::XMacFileSystemNotification(VFileSystemNotifier* notifier)
	: fNotifier(notifier)
{
}

XMacFileSystemNotification::~XMacFileSystemNotification() = default;

VError XMacFileSystemNotification::StartWatchingForChanges(const VFolder& folder, VFileSystemNotifier::EventKind kinds,
	VFileSystemNotifier::IEventHandler* handler, int latency)
{
	std::string posixPath = XMacFilePath::ToSystemPath(folder.GetPath());
	if (posixPath.empty())
		return FeedFailure(EINVAL);
	if (posixPath.back() != '/')
		posixPath += '/';
	VTask* task = VTaskMgr::IsInited() ? VTask::GetCurrent() : nullptr;
	XMacChangeData* data = new (std::nothrow) XMacChangeData(folder.GetPath(), posixPath, kinds, handler, task, this);
	if (data == nullptr)
		return FeedFailure(ENOMEM);
	int error = 0;
	try
	{
		data->fStream = std::make_unique<plat::FolderEventStream>(posixPath, latency,
			[this, data](const std::vector<plat::FolderEventStream::Event>& events) { FSEventCallback(data, events); });
	}
	catch (const std::bad_alloc&)
	{
		data->Release();
		return FeedFailure(ENOMEM);
	}
	bool started = data->fStream->Open(error);
	if (started)
	{
		CreateDirectorySnapshot(posixPath, data->fSnapshot, true);
		std::vector<std::string> folders;
		for (const auto& [path, items] : data->fSnapshot)
			folders.push_back(path);
		// The root itself even when it could not be listed: its watch tells when it comes or goes.
		if (folders.empty())
			folders.push_back(posixPath);
		started = data->fStream->WatchFolders(folders, error) && data->fStream->Start(plat::RunLoop::Main(), error);
	}
	if (!started)
	{
		// Never started, so no report can be under way: the stream closes at once.
		data->Release();
		return FeedFailure(error);
	}
	fNotifier->PushChangeData(data);
	data->Release();
	return VE_OK;
}

VError XMacFileSystemNotification::StopWatchingForChanges(VFileSystemNotifier::VChangeData* data, bool /*isLast*/)
{
	// Every watch has a stream of its own, so the last one needs nothing more.
	if (XMacChangeData* change = static_cast<XMacChangeData*>(data); change->fStream)
		change->fStream->Stop();
	return VE_OK;
}

void XMacFileSystemNotification::CreateDirectorySnapshot(const std::string& posixFolderPath, Snapshot& snapshot,
	bool recursive)
{
	DIR* folder = ::opendir(posixFolderPath.c_str());
	if (folder == nullptr)
		return;
	FolderSnapshot items;
	std::vector<std::string> subFolders;
	while (const dirent* entry = ::readdir(folder))
	{
		const char* name = entry->d_name;
		if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || std::strcmp(name, ".DS_Store") == 0)
			continue;
		struct stat status;
		if (::lstat((posixFolderPath + name).c_str(), &status) != 0)
			continue;
		FileInfo info;
		info.fSeconds = int64(status.st_mtim.tv_sec);
		info.fNanoseconds = int64(status.st_mtim.tv_nsec);
		info.fIsFolder = S_ISDIR(status.st_mode);
		items[name] = info;
		if (recursive && info.fIsFolder)
			subFolders.push_back(posixFolderPath + name + "/");
	}
	::closedir(folder);
	snapshot[posixFolderPath] = std::move(items);
	for (const std::string& subFolder : subFolders)
		CreateDirectorySnapshot(subFolder, snapshot, true);
}

void XMacFileSystemNotification::ClearDirectorySnapshot(Snapshot& snapshot)
{
	snapshot.clear();
}

bool XMacFileSystemNotification::BuildChangeList(XMacChangeData* data, const std::string& posixFolderPath)
{
	const auto known = data->fSnapshot.find(posixFolderPath);
	if (known == data->fSnapshot.end())
		return false;
	// The listing compared is the one the snapshot takes in: what changes after it comes in a later batch.
	FolderSnapshot& now = data->fListed[posixFolderPath];
	now.clear();
	Snapshot fresh;
	CreateDirectorySnapshot(posixFolderPath, fresh, false);
	now.swap(fresh[posixFolderPath]);
	const FolderSnapshot& before = known->second;
	bool changed = false;
	if ((data->fKinds & VFileSystemNotifier::kFileDeleted) != 0)
	{
		for (const auto& [name, info] : before)
		{
			if (now.count(name) == 0)
				changed = AddChangeToList(data, posixFolderPath, name, info.fIsFolder, VFileSystemNotifier::kFileDeleted) || changed;
		}
	}
	for (const auto& [name, info] : now)
	{
		const auto old = before.find(name);
		if (old == before.end())
			changed = AddChangeToList(data, posixFolderPath, name, info.fIsFolder, VFileSystemNotifier::kFileAdded) || changed;
		else if (!old->second.fIsFolder
			&& (old->second.fSeconds != info.fSeconds || old->second.fNanoseconds != info.fNanoseconds))
			changed = AddChangeToList(data, posixFolderPath, name, info.fIsFolder, VFileSystemNotifier::kFileModified) || changed;
	}
	return changed;
}

bool XMacFileSystemNotification::AddChangeToList(XMacChangeData* data, const std::string& folderPath,
	const std::string& name, bool isFolder, VFileSystemNotifier::EventKind kind)
{
	if ((data->fKinds & kind) == 0)
		return false;
	const std::string full = folderPath + name + (isFolder ? "/" : "");
	VString native;
	// A name that is not UTF-8 has no path in this system.
	if (!XMacFilePath::PosixFullPathToHFS(full.c_str(), true, native))
		return false;
	VFilePath path(native, FPS_SYSTEM);
	StLocker locker(&fNotifier->GetLock());
	data->fChanges.emplace_back(path, kind);
	return true;
}

void XMacFileSystemNotification::FSEventCallback(XMacChangeData* data,
	const std::vector<plat::FolderEventStream::Event>& events)
{
	using Stream = plat::FolderEventStream;
	std::set<std::string> folders;
	for (const Stream::Event& event : events)
	{
		if ((event.fFlags & 16) != 0)
			continue;
		if ((event.fFlags & Stream::kRootChanged) != 0)
		{
			struct stat status;
			if (::stat(data->fPosixPath.c_str(), &status) == 0)
				folders.insert(data->fPosixPath);
		}
		else if ((event.fFlags & Stream::kMustScanSubFolders) != 0 && (event.fFlags & 6) != 0)
		{
			// Events were lost anywhere in the tree: every folder is compared, not only the root, or the lost
			// changes of the sub-folders would wait for their next event to be found.
			folders.insert(data->fPosixPath);
			for (const auto& [path, items] : data->fSnapshot)
				folders.insert(path);
		}
		else
			folders.insert(event.fPath);
	}
	bool changed = false;
	for (const std::string& folder : folders)
		changed = BuildChangeList(data, folder) || changed;
	_UpdateSnapshot(data);
	std::vector<std::string> watched;
	for (const auto& [path, items] : data->fSnapshot)
		watched.push_back(path);
	// A folder refused a watch (the user's limit) is compared only when an overflow names the whole tree.
	int error = 0;
	data->fStream->WatchFolders(watched, error);
	// Last, so that a handler acting on a new folder finds it listed and watched.
	if (changed)
		fNotifier->SignalChange(data);
}

void XMacFileSystemNotification::_UpdateSnapshot(XMacChangeData* data)
{
	for (auto& [path, listing] : data->fListed)
		data->fSnapshot[path].swap(listing);
	data->fListed.clear();
	// The folders the listings still reach keep their listings, even those not compared in this batch: a
	// listing taken again now would take in changes whose events are still on their way. A folder reached for
	// the first time is listed with its whole tree; its watch, added after, makes it compared again.
	Snapshot reached;
	std::vector<std::string> toVisit {data->fPosixPath};
	while (!toVisit.empty())
	{
		const std::string path = std::move(toVisit.back());
		toVisit.pop_back();
		const auto known = data->fSnapshot.find(path);
		if (known == data->fSnapshot.end())
		{
			CreateDirectorySnapshot(path, reached, true);
			continue;
		}
		for (const auto& [name, info] : known->second)
		{
			if (info.fIsFolder)
				toVisit.push_back(path + name + "/");
		}
		reached[path].swap(known->second);
	}
	data->fSnapshot.swap(reached);
}

}  // namespace velk
