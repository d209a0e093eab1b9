// A shared snapshot of file times that a file system can hold, so that asking whether a file exists, or
// when it changed, need not touch the disk. A snapshot is built without the lock and installed whole.
// Reference-counted: file systems of one tree share one cache.
#pragma once

#include "kernel/VExport.h"

#include <map>
#include <shared_mutex>

#include "kernel/memory/IRefCountable.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VTime.h"

namespace velk {

class IFile;
class IFolder;
class VFilePath;

class VELK_API VFileAttributesCache : public IRefCountable
{
public:
	struct Attributes
	{
		VTime fModified;
		VTime fCreated;
		VTime fAccessed;
	};

	// Native path texts compared unit for unit: names that differ only in case are other files here.
	struct PathOrder
	{
		bool operator()(const VString& a, const VString& b) const { return a.CompareToStringRaw(b) == CR_SMALLER; }
	};
	using Map = std::map<VString, Attributes, PathOrder>;

	// Whether the snapshot holds the path. Under the shared lock.
	bool FileExists(const VFilePath& path) const;
	// When the snapshot holds the path, each non-null time receives the stored one and the answer is true;
	// otherwise false and nothing is written. Under the shared lock.
	bool GetTimeAttributes(const VFilePath& path, VTime* modified, VTime* created, VTime* accessed) const;

	// Adds the file's path and times to map (a path already there keeps its first times). A null file, or one
	// whose times cannot be read, adds nothing; its error stays on the task. False, velk 100 raised, when
	// memory runs out.
	static bool CollectFileAttributes(Map& map, IFile* file);
	// The same for each file directly in the folder, its times read by the iteration; files whose times
	// cannot be read are skipped and the walk goes on. A null folder adds nothing. False, velk 100 raised,
	// when memory runs out (the walk stops there).
	static bool CollectFileAttributes(Map& map, IFolder* folder);

	// Installs map as the snapshot and hands the old one back in it. Under the exclusive lock.
	void SwapMap(Map& map);
	// Empties the snapshot. Under the exclusive lock.
	void Clear();

private:
	// Adds the file's path with times; false, velk 100 raised, when memory runs out.
	static bool _Insert(Map& map, const IFile& file, const Attributes& times);
	mutable std::shared_mutex fLock;
	Map fMap;
};

}  // namespace velk
