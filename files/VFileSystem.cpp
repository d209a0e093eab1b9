#include "files/VFileSystem.h"

#include <new>

#include "files/IFolder.h"
#include "files/VFolder.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"

namespace velk {

VFileSystem* VFileSystem::Create(const VString& name, IFolder* root, uint32 options, uint64 quota, uint64 used,
	VError* outError)
{
	if (name.IsEmpty() || name.FindUniChar(u'/') > 0)
	{
		VErrorBase* error = new (std::nothrow) VErrorBase(VE_FS_INVALID_NAME);
		if (error != nullptr)
		{
			error->SetString(VString("name"), name);
			VTask::PushRetainedError(error);
		}
		if (outError != nullptr)
			*outError = VE_FS_INVALID_NAME;
		return nullptr;
	}
	VFileSystem* fileSystem = new (std::nothrow) VFileSystem(name, root, options, quota, used);
	if (fileSystem == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	if (outError != nullptr)
		*outError = (fileSystem == nullptr) ? VE_MEMORY_FULL : VE_OK;
	return fileSystem;
}

VFileSystem::VFileSystem(const VString& name, IFolder* root, uint32 options, uint64 quota, uint64 used)
: fName(name), fRoot(root), fQuota(quota), fOptions(options), fAvailable(used < quota ? quota - used : 0)
{
	if (fRoot != nullptr)
		fRoot->Retain();
	if ((fOptions & eFSO_ATTRIBUTES_CACHE) != 0)
	{
		// Folders of one tree share one snapshot, so a file system made inside another sees what it sees.
		VFileSystem* outer = (fRoot != nullptr) ? fRoot->GetFileSystem() : nullptr;
		if (outer != nullptr && outer->GetAttributesCache() != nullptr)
			fAttributesCache.Set(outer->GetAttributesCache());
		else
			fAttributesCache.Adopt(new (std::nothrow) VFileAttributesCache);
	}
}

VFileSystem::~VFileSystem()
{
	if ((fOptions & eFSO_DELETE_ROOT) != 0)
	{
		const VFolder* folder = dynamic_cast<const VFolder*>(fRoot);
		if (folder != nullptr && folder->Exists())
		{
			// What cannot be removed is logged and not kept: nobody is left to handle it.
			StErrorContextInstaller scope(false, false);
			folder->Delete(true);
		}
	}
	if (fRoot != nullptr)
		fRoot->Release();
}

VFilePath VFileSystem::GetRoot() const
{
	return (fRoot != nullptr) ? fRoot->GetPath() : VFilePath();
}

VFolder* VFileSystem::RetainRootFolder() const
{
	if (fRoot == nullptr)
		return nullptr;
	return new (std::nothrow) VFolder(fRoot->GetPath(), const_cast<VFileSystem*>(this));
}

bool VFileSystem::IsAuthorized(const VFilePath& path) const
{
	return path.IsSameOrChildOf(GetRoot());
}

bool VFileSystem::GetPathWithFileSystem(const VFilePath& path, VString& out) const
{
	VString relative;
	if (!path.GetRelativePosixPath(GetRoot(), relative))
		return false;
	out = VString(u"/");
	out.AppendUniChars(fName.GetCPointer(), fName.GetLength());
	out.AppendUniChar(u'/');
	out.AppendUniChars(relative.GetCPointer(), relative.GetLength());
	return true;
}

VError VFileSystem::Request(uint64 bytes)
{
	if (!IsWritable())
		return VE_FS_NOT_WRITABLE;
	if (fQuota == 0)
		return VE_OK;
	// Taken by compare-and-swap so that two tasks never both take the last bytes and the count never wraps.
	uint64 available = fAvailable.load();
	do
	{
		if (available < bytes)
			return VE_FS_QUOTA_EXCEEDED;
	} while (!fAvailable.compare_exchange_weak(available, available - bytes));
	return VE_OK;
}

VError VFileSystem::Relinquish(uint64 bytes)
{
	if (!IsWritable())
		return VE_FS_NOT_WRITABLE;
	if (fQuota == 0)
		return VE_OK;
	uint64 available = fAvailable.load();
	uint64 next = 0;
	do
	{
		// Bytes given back twice, or that were never taken, cannot make more room than the quota.
		next = (bytes >= fQuota - available) ? fQuota : available + bytes;
	} while (!fAvailable.compare_exchange_weak(available, next));
	return VE_OK;
}

}  // namespace velk
