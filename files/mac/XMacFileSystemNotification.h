// The file-system notifier's platform part: a folder-level event stream per watch, delivered on the main run
// loop, and a snapshot of the watched tree whose comparison with the disk turns each touched folder into
// per-item changes. The snapshot is touched only on the main run loop's thread once the watch has started.
#pragma once

#include "kernel/VExport.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "files/VFileSystemNotifier.h"
#include "platform/ChangeNotification.h"

namespace velk {

class XMacFileSystemNotification
{
public:
	struct FileInfo
	{
		int64 fSeconds = 0;
		int64 fNanoseconds = 0;
		bool fIsFolder = false;
	};
	// Item names (sorted) of one folder.
	using FolderSnapshot = std::map<std::string, FileInfo>;
	// By folder POSIX path, ending with '/'.
	using Snapshot = std::map<std::string, FolderSnapshot>;

	class XMacChangeData : public VFileSystemNotifier::VChangeData
	{
	public:
		XMacChangeData(const VFilePath& folderPath, const std::string& posixPath, VFileSystemNotifier::EventKind kinds,
			VFileSystemNotifier::IEventHandler* handler, VTask* task, XMacFileSystemNotification* owner);
		// Stops and frees the stream, clears the snapshot.
		~XMacChangeData() override;

		const std::string fPosixPath;	// ends with '/'
		std::unique_ptr<plat::FolderEventStream> fStream;
		Snapshot fSnapshot;
		Snapshot fListed;	// the listings compared in the batch under way
	};

	explicit XMacFileSystemNotification(VFileSystemNotifier* notifier);
	~XMacFileSystemNotification();

	XMacFileSystemNotification(const XMacFileSystemNotification&) = delete;
	XMacFileSystemNotification& operator=(const XMacFileSystemNotification&) = delete;

	// See VFileSystemNotifier::StartWatchingForChanges; called under the notifier's lock. On success the watch
	// is in the notifier's array.
	VError StartWatchingForChanges(const VFolder& folder, VFileSystemNotifier::EventKind kinds,
		VFileSystemNotifier::IEventHandler* handler, int latency);
	// Stops the watch's stream, waiting for a report under way: never called under the notifier's lock. 0.
	VError StopWatchingForChanges(VFileSystemNotifier::VChangeData* data, bool isLast);

	// The listing of posixFolderPath (ending with '/') stored under that path: the items but ".", ".." and
	// ".DS_Store", each with its own modification time (links not followed); an item whose status cannot be
	// read is left out. When recursive, each sub-folder's listing too.
	static void CreateDirectorySnapshot(const std::string& posixFolderPath, Snapshot& snapshot, bool recursive);
	static void ClearDirectorySnapshot(Snapshot& snapshot);

	// Compares the snapshot's listing of the folder with a fresh one and adds the differences to the watch's
	// list: deleted, created, then modified (files only). Whether one was added; false for a folder not in the
	// snapshot.
	bool BuildChangeList(XMacChangeData* data, const std::string& posixFolderPath);
	// Adds folderPath + name (+ '/' for a folder) with kind when the watch asks for that kind, under the
	// notifier's lock. Whether it was added.
	bool AddChangeToList(XMacChangeData* data, const std::string& folderPath, const std::string& name, bool isFolder,
		VFileSystemNotifier::EventKind kind);

	// A batch of the watch's stream, on the main run loop: the touched folders compared, a message posted when
	// changes were found, the snapshot brought up to date and the stream's watches in step with it.
	void FSEventCallback(XMacChangeData* data, const std::vector<plat::FolderEventStream::Event>& events);

private:
	// After a batch: the compared folders take the listings they were compared with, folders no longer
	// reached from the root go, and folders new to the tree are listed.
	static void _UpdateSnapshot(XMacChangeData* data);

	VFileSystemNotifier* const fNotifier;
};

}  // namespace velk
