// Removing whole folder trees that other processes may change meanwhile. The walk lists and removes each
// folder's entries relative to the folder it opened: symbolic links are removed as links and never entered,
// a name that turns into another kind of entry between the listing and its removal is removed as what it is
// then, and no folder on another mount is ever entered. Paths are UTF-8; no call throws.
#pragma once

#include <functional>
#include <string>

namespace plat {

// What stopped a removal.
struct RemovalFailure
{
	int error = 0;
	// The entry that could not be removed, the folder that could not be opened or read, or the mount met.
	std::string path;
	bool atFolder = false;  // path names a folder (a mount among them)
	bool atMount = false;  // path is the mount point that stopped the removal
};

struct RemovalOptions
{
	// Each entry is unlocked first, and each folder given its owner's bits, where the process may
	// (UnlockPath); else locks and modes are left as they are and their refusals fail the walk.
	bool forced = false;
	// The folder at path stays with its entries removed; a link at path is then followed, as a listing
	// follows it. Without recursive, only the entries of path that are no folders go.
	bool contentsOnly = false;
	bool recursive = true;
	// Called after each folder inside the tree was emptied, before it is removed.
	std::function<void()> betweenFolders;
};

// Finds a mount whose mount point is the folder open at folder (unless below) or lies under it, in the
// process's mount table; path is the folder's path, used where the system cannot name the descriptor.
// Answers EBUSY with mountPoint set when there is one, 0 with mountPoint empty when there is none (or the
// table cannot be read: the walk still stops at every mount it meets).
int FindMountInside(int folder, const std::string& path, bool below, std::string& mountPoint);

// Removes the entry at path and, for a folder, everything in it (see RemovalOptions). Before anything is
// removed, the mounts at or under the folder are looked up: when there is one, nothing is removed and the
// answer is EBUSY, the failure naming the mount. A folder of the tree that turns out to be another mount's
// root meanwhile is not entered: EBUSY naming it. Entries that vanish meanwhile are passed over; ENOENT when
// nothing is at path. The first failure stops the walk: its errno is answered and failure (when given)
// says where; what the walk did not reach stays. EINVAL for a path without a name ("/", "..").
int RemoveTree(const char* path, const RemovalOptions& options, RemovalFailure* failure);

// The same for the entry name of the folder open at folder, which path names in failures: for callers that
// hold the folder open (and may have unlocked it).
int RemoveTreeAt(int folder, const char* name, const std::string& path, const RemovalOptions& options, RemovalFailure* failure);

}  // namespace plat
