#include "files/VFileAttributesCache.h"

#include <mutex>
#include <new>

#include "files/IFile.h"
#include "files/IFolder.h"
#include "files/VFolder.h"
#include "files/VFilePath.h"

namespace velk {

bool VFileAttributesCache::FileExists(const VFilePath& path) const
{
	VString text;
	path.GetPath(text);
	std::shared_lock lock(fLock);
	return fMap.find(text) != fMap.end();
}

bool VFileAttributesCache::GetTimeAttributes(const VFilePath& path, VTime* modified, VTime* created, VTime* accessed) const
{
	VString text;
	path.GetPath(text);
	std::shared_lock lock(fLock);
	const auto found = fMap.find(text);
	if (found == fMap.end())
		return false;
	if (modified != nullptr)
		*modified = found->second.fModified;
	if (created != nullptr)
		*created = found->second.fCreated;
	if (accessed != nullptr)
		*accessed = found->second.fAccessed;
	return true;
}

bool VFileAttributesCache::CollectFileAttributes(Map& map, IFile* file)
{
	if (file == nullptr)
		return true;
	Attributes times;
	if (file->GetTimeAttributes(&times.fModified, &times.fCreated, &times.fAccessed) != VE_OK)
		return true;
	return _Insert(map, *file, times);
}

bool VFileAttributesCache::_Insert(Map& map, const IFile& file, const Attributes& times)
{
	VString text;
	file.GetPath().GetPath(text);
	try
	{
		map.emplace(text, times);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	return true;
}

bool VFileAttributesCache::CollectFileAttributes(Map& map, IFolder* folder)
{
	if (folder == nullptr)
		return true;
	bool enoughMemory = true;
	folder->IterateFiles(
		[&map, &enoughMemory](IFile* file, IFileAttributeAccessor* accessor)
		{
			Attributes times;
			if (file == nullptr || accessor == nullptr
				|| accessor->GetTime(&times.fModified, &times.fCreated, &times.fAccessed) != VE_OK)
				return true;
			enoughMemory = _Insert(map, *file, times);
			return enoughMemory;
		},
		eFI_FILES);
	return enoughMemory;
}

void VFileAttributesCache::SwapMap(Map& map)
{
	std::unique_lock lock(fLock);
	fMap.swap(map);
}

void VFileAttributesCache::Clear()
{
	// The old snapshot is freed after the lock is let go, so readers wait no longer than the exchange.
	Map old;
	SwapMap(old);
}

}  // namespace velk
