// The operations of VFolder built on its contents: emptiness, listings, walks, tree copies and deletions,
// revealing, and folders named by aliases.
#include "files/VFolder.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>

#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFileIterator.h"
#include "files/VFileSystem.h"
#include "files/mac/XMacFile.h"
#include "files/mac/XMacFilePath.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/StThrowError.h"
#include "runtime/VTaskMgr.h"

namespace velk {

namespace {

constexpr VError kCopySourceMissing = MakeVError(kVELK_SIGNATURE, 650);
constexpr VError kNotEmpty = MakeVError(kVELK_SIGNATURE, 651);
constexpr VError kCreateFailed = MakeVError(kVELK_SIGNATURE, 652);
constexpr VError kDeleteFailed = MakeVError(kVELK_SIGNATURE, 653);
constexpr VError kRevealFailed = MakeVError(kVELK_SIGNATURE, 656);
constexpr VError kMoveFailed = MakeVError(kVELK_SIGNATURE, 657);
constexpr VError kCopyIntoItself = MakeVError(kVELK_SIGNATURE, 660);
constexpr VError kAliasUnresolved = MakeVError(kVELK_SIGNATURE, 611);
constexpr VError kAliasNotFolder = MakeVError(kVELK_SIGNATURE, 618);

using FolderChain = std::vector<VFolderIdentity>;

void PushFolderError(const VFolder& folder, VError code, const VFolder* destination = nullptr)
{
	if (destination == nullptr)
	{
		VFileError::Push(folder.GetPath(), code);
		return;
	}
	VFileError::Push(folder.GetPath(), code, [destination](VFileError& error) {
		VString path;
		destination->GetPath().GetPath(path);
		error.SetString(VString("destination"), path);
	});
}

// Whether the copy would be written into the source itself, or replace the target while it holds the
// source (the replaced target is deleted). Asked of the paths, then of the disk, so that a link or a bind
// mount on the way into the source is seen through.
bool Overlaps(const VFolder& source, const VFolder& destination, const VFilePath& target)
{
	const VFilePath sourcePath = source.GetPath();
	if (destination.GetPath().IsSameOrChildOf(sourcePath) || sourcePath.IsSameOrChildOf(target))
		return true;
	return destination.GetMacFolder().IsSameOrInside(sourcePath) || source.GetMacFolder().IsSameOrInside(target);
}

// Deletes a tree this copy made, with its errors kept off the task: the failure that made the copy stop is
// the one to report.
void TakeBack(const VFolder& folder)
{
	StErrorContextInstaller quiet(false, true);
	folder.Delete(true);
}

// Replaces the existing folder target with a copy of source, so that the target stays whole until the copy
// is: the copy is made beside it under a hidden name (natively, else item by item), exchanged with it, and
// only then is the former target deleted. A copy that fails is taken back and the target left as it was.
VError ReplaceByCopy(const VFolder& source, const VFolder& target, uint32 options)
{
	const VFilePath targetPath = target.GetPath();
	VFilePath stagingPath;
	if (source.GetMacFolder().CopyBeside(targetPath, &stagingPath) != VE_OK)
	{
		// As on a new target, a native copy that fails is not reported: the copy is redone item by item.
		const VError created = VFileError::Wrap(targetPath, XMacFolder::CreateBeside(targetPath, &stagingPath), kCreateFailed);
		if (created != VE_OK)
			return created;
		const VFolder staging(stagingPath, target.GetFileSystem());
		const VError copied = source.CopyContentsTo(staging, options);
		if (copied != VE_OK)
		{
			TakeBack(staging);
			return copied;
		}
	}
	VFilePath oldPath;
	const VError placed = XMacFolder::PutInPlace(stagingPath, targetPath, &oldPath);
	if (placed != VE_OK)
	{
		TakeBack(VFolder(stagingPath, target.GetFileSystem()));
		return VFileError::Wrap(targetPath, placed, kMoveFailed);
	}
	return VFolder(oldPath, target.GetFileSystem()).Delete(true);
}

// What a walk met while reading a folder, pushed for that folder. A folder that vanished meanwhile has no
// contents left to delete, so deletions pass over ENOENT.
VError IterationError(const VFolder& folder, VError error, VError defaultCode)
{
	if (error == VE_OK || (defaultCode == kDeleteFailed && error == MakePosixError(ENOENT)))
		return VE_OK;
	return VFileError::Wrap(folder.GetPath(), error, defaultCode);
}

// Enters folder unless a walk already stands in it (a link led back to a folder above): false then.
template <class Iterator>
bool EnterFolder(const Iterator& iterator, FolderChain& chain)
{
	VFolderIdentity identity;
	if (!iterator.GetFolderIdentity(identity))
		return true;
	if (std::find(chain.begin(), chain.end(), identity) != chain.end())
		return false;
	chain.push_back(identity);
	return true;
}

bool WalkFiles(const VFolder& folder, const std::function<bool(IFile*, IFileAttributeAccessor*)>& callback,
	uint32 options, FolderChain& chain)
{
	if (!folder.Exists())
		return true;
	bool result = true;
	const size_t depth = chain.size();
	{
		VFileIterator files(&folder, options | eFI_FILES);
		if (!EnterFolder(files, chain))
			return true;
		for (; result && files.IsValid(); ++files)
			result = callback(files.Current(), &files);
	}
	if (result && (options & eFI_RECURSIVE) != 0)
	{
		for (VFolderIterator folders(&folder, options | eFI_FILES); result && folders.IsValid(); ++folders)
			result = WalkFiles(*folders.Current(), callback, options | eFI_FILES, chain);
	}
	chain.resize(depth);
	return result;
}

bool WalkFolders(const VFolder& folder, const std::function<bool(IFolder*, IFileAttributeAccessor*)>& callback,
	uint32 options, FolderChain& chain)
{
	if (!folder.Exists())
		return true;
	bool result = true;
	const size_t depth = chain.size();
	VFolderIterator folders(&folder, options | eFI_FOLDERS);
	if (!EnterFolder(folders, chain))
		return true;
	for (; result && folders.IsValid(); ++folders)
	{
		result = callback(folders.Current(), &folders);
		if (result && (options & eFI_RECURSIVE) != 0)
			result = WalkFolders(*folders.Current(), callback, options | eFI_FOLDERS, chain);
	}
	chain.resize(depth);
	return result;
}

}  // namespace

bool VFolder::IsEmpty() const
{
	if (!Exists())
		return true;
	constexpr uint32 kEverything = eFI_FOLDERS | eFI_FILES | eFI_HIDDEN;
	return !VFolderIterator(this, kEverything).IsValid() && !VFileIterator(this, kEverything | kIterateSpecialEntries).IsValid();
}

void VFolder::GetContents(std::vector<VRefPtr<VFile>>* files, std::vector<VRefPtr<VFolder>>* folders) const
{
	if (!Exists())
		return;
	if (files != nullptr)
	{
		for (VFileIterator it(this, eFI_FILES); it.IsValid(); ++it)
			files->push_back(VRefPtr<VFile>(it.Current()));
	}
	if (folders != nullptr)
	{
		for (VFolderIterator it(this, eFI_FOLDERS); it.IsValid(); ++it)
			folders->push_back(VRefPtr<VFolder>(it.Current()));
	}
}

void VFolder::GetElements(std::vector<VRefPtr<IFile>>* files, std::vector<VRefPtr<IFolder>>* folders,
	bool includeHidden) const
{
	if (!Exists())
		return;
	const uint32 hidden = includeHidden ? uint32(eFI_HIDDEN) : 0;
	if (files != nullptr)
	{
		for (VFileIterator it(this, eFI_FILES | hidden); it.IsValid(); ++it)
			files->push_back(VRefPtr<IFile>(it.Current()));
	}
	if (folders != nullptr)
	{
		for (VFolderIterator it(this, eFI_FOLDERS | hidden); it.IsValid(); ++it)
			folders->push_back(VRefPtr<IFolder>(it.Current()));
	}
}

bool VFolder::IterateFiles(const std::function<bool(IFile*, IFileAttributeAccessor*)>& callback, uint32 options) const
{
	// The callers' walks list files as listings do: special entries are for deletions and copies only.
	FolderChain chain;
	return WalkFiles(*this, callback, options & ~kIterateSpecialEntries, chain);
}

bool VFolder::IterateFolders(const std::function<bool(IFolder*, IFileAttributeAccessor*)>& callback,
	uint32 options) const
{
	FolderChain chain;
	return WalkFolders(*this, callback, options, chain);
}

VError VFolder::CopyTo(const VFolder& destination, VFolder** out, uint32 options) const
{
	VString name;
	GetName(name);
	return CopyTo(destination, name, out, options);
}

VError VFolder::CopyTo(const VFolder& destination, const VString& name, VFolder** out, uint32 options) const
{
	if (out != nullptr)
		*out = nullptr;
	VFilePath targetPath = destination.GetPath();
	targetPath.ToSubFolder(name);
	if (Overlaps(*this, destination, targetPath))
	{
		PushFolderError(*this, kCopyIntoItself, &destination);
		return kCopyIntoItself;
	}
	VRefPtr<VFolder> target(new (std::nothrow) VFolder(targetPath, destination.GetFileSystem()), true);
	if (!target)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}

	VError result = VE_OK;
	bool done = false;
	if ((options & eFCOPY_REPLACE) != 0)
	{
		if (target->Exists())
		{
			result = ReplaceByCopy(*this, *target, options);
			done = true;
		}
		else if (fPlatform.CopyToNonExistingFolder(destination.GetPath(), name) == VE_OK)
		{
			done = true;
		}
		else if (target->Exists())
		{
			// A failed native copy leaves nothing behind; should a part remain, the copy starts clean.
			result = target->Delete(true);
			done = result != VE_OK;
		}
	}
	if (!done)
	{
		const bool made = !target->Exists();
		result = CopyContentsTo(*target, options);
		// A copy that stopped at a failure takes back the tree it made, so that no half copy stands as if
		// whole; asked to copy what it can, it keeps it.
		if (result != VE_OK && made && (options & eFCOPY_CONTINUE_ON_ERROR) == 0 && target->Exists())
			TakeBack(*target);
	}
	if (out != nullptr)
		*out = target.Forget();
	return result;
}

VError VFolder::CopyContentsTo(const VFolder& destination, uint32 options) const
{
	if (!Exists())
	{
		PushFolderError(*this, kCopySourceMissing);
		return kCopySourceMissing;
	}
	// Tested before a missing destination is made: made inside the source, it would be copied into itself.
	if (destination.GetPath().IsSameOrChildOf(GetPath()) || destination.GetMacFolder().IsSameOrInside(GetPath()))
	{
		PushFolderError(*this, kCopyIntoItself, &destination);
		return kCopyIntoItself;
	}
	if (!destination.Exists())
	{
		const VError created = destination.Create();
		if (created != VE_OK)
			return created;
	}

	const bool goOn = (options & eFCOPY_CONTINUE_ON_ERROR) != 0;
	const uint32 hidden = (options & eFCOPY_SKIP_HIDDEN) != 0 ? 0 : uint32(eFI_HIDDEN);
	VError first = VE_OK;
	auto keep = [&first](VError result) {
		if (first == VE_OK)
			first = result;
	};
	{
		VFolderIterator folders(this, eFI_FOLDERS | hidden);
		for (; folders.IsValid() && (first == VE_OK || goOn); ++folders)
		{
			VString name;
			folders->GetName(name);
			keep(folders->CopyTo(destination, name, nullptr, options));
		}
		if (first == VE_OK || goOn)
			keep(IterationError(*this, folders.GetError(), kCopySourceMissing));
	}
	if (first == VE_OK || goOn)
	{
		// FIFOs, sockets and devices are made anew (a device only where the system allows it).
		VFileIterator files(this, eFI_FILES | hidden | kIterateSpecialEntries);
		for (; files.IsValid() && (first == VE_OK || goOn); ++files)
			keep(files->CopyTo(destination, nullptr, options));
		if (first == VE_OK || goOn)
			keep(IterationError(*this, files.GetError(), kCopySourceMissing));
	}
	return first;
}

VError VFolder::Delete(bool deleteContents) const
{
	// A link standing for this folder goes as a link: what it leads to lies outside.
	if (!fPlatform.Exists(false) && fPlatform.Exists(true))
	{
		std::string link;
		if (!XMacFilePath::ToSystemPath(fPosixPath, link))
			return VE_STRING_ALLOC_FAILED;
		while (link.size() > 1 && link.back() == '/')
			link.pop_back();
		return VFileError::Wrap(GetPath(), XMacFile(link.c_str()).Delete(), kDeleteFailed);
	}
	VError result = VE_OK;
	if (IsEmpty())
	{
		result = fPlatform.Delete();
	}
	else if (deleteContents)
	{
		result = DeleteContents(true);
		if (result == VE_OK)
			result = fPlatform.Delete();
	}
	else
	{
		PushFolderError(*this, kNotEmpty);
		return kNotEmpty;
	}
	return VFileError::Wrap(GetPath(), result, kDeleteFailed);
}

VError VFolder::DeleteContents(bool recursive) const
{
	// Without option 16 links are files here: a link to a folder is removed, never walked into.
	constexpr uint32 kCarried = 32;
	VError result = VE_OK;
	if (recursive)
	{
		VFolderIterator folders(this, eFI_FOLDERS | eFI_HIDDEN | kCarried);
		for (; result == VE_OK && folders.IsValid(); ++folders)
		{
			result = folders->DeleteContents(true);
			VTaskMgr::Yield();
			if (result == VE_OK)
				result = folders->Delete(false);
		}
		if (result == VE_OK)
			result = IterationError(*this, folders.GetError(), kDeleteFailed);
	}
	if (result == VE_OK)
	{
		VFileIterator files(this, eFI_FILES | eFI_HIDDEN | kCarried | kIterateSpecialEntries);
		for (; result == VE_OK && files.IsValid(); ++files)
			result = files->Delete();
		if (result == VE_OK)
			result = IterationError(*this, files.GetError(), kDeleteFailed);
	}
	return result;
}

VError VFolder::DeleteForced() const
{
	VError result = fPlatform.DeleteForced();
	if (result == VE_UNIMPLEMENTED)
	{
		result = DeleteContents(true);
		if (result == VE_OK)
			result = fPlatform.Delete();
	}
	return VFileError::Wrap(GetPath(), result, kDeleteFailed);
}

bool VFolder::RevealInFinder(bool revealContents) const
{
	if (revealContents)
	{
		VFileIterator files(this, eFI_FILES | eFI_RESOLVE_LINKS);
		bool revealed = false;
		if (files.IsValid())
		{
			revealed = files->RevealInFinder();
		}
		else
		{
			VFolderIterator folders(this, eFI_FOLDERS | eFI_RESOLVE_LINKS);
			revealed = folders.IsValid() && folders->RevealInFinder(false);
		}
		if (revealed)
			return true;
	}
	return VFileError::Wrap(GetPath(), fPlatform.RevealInFinder(), kRevealFailed) == VE_OK;
}

VError VFolder::ResolveAliasFolder(VFolder** folder, bool deleteInvalidAlias)
{
	if (folder == nullptr || *folder == nullptr)
		return VE_OK;
	const VFolder& current = **folder;
	const VFilePath path = current.GetPath();
	if (!path.IsFolder() || current.GetMacFolder().Exists(false))
		return VE_OK;
	VString text;
	path.GetPath(text);
	text.Truncate(text.GetLength() - 1);
	VRefPtr<VFile> alias(new (std::nothrow) VFile(VFilePath(text, FPS_SYSTEM)), true);
	if (!alias)
		return VE_MEMORY_FULL;
	if (!alias->IsAliasFile() || !alias->Exists())
		return VE_OK;

	VFilePath target;
	const VError result = alias->GetMacFile().ResolveAlias(target);
	if (result == VE_OK && target.IsFolder())
	{
		VFolder* resolved = new (std::nothrow) VFolder(target);
		if (resolved == nullptr)
			return VE_MEMORY_FULL;
		(*folder)->Release();
		*folder = resolved;
		return VE_OK;
	}
	if (deleteInvalidAlias)
		return alias->Delete();
	if (result == VE_OK)
	{
		PushFolderError(current, kAliasNotFolder);
		return kAliasNotFolder;
	}
	return VFileError::Wrap(alias->GetPath(), result, kAliasUnresolved);
}

VFolder* VFolder::CreateAndResolveAlias(const VFolder& parent, const VString& name)
{
	VFolder* folder = parent.RetainRelativeVFolder(name, FPS_SYSTEM, nullptr);
	if (folder == nullptr)
		return nullptr;
	if (ResolveAliasFolder(&folder, true) != VE_OK)
	{
		if (folder != nullptr)
			folder->Release();
		return nullptr;
	}
	return folder;
}

}  // namespace velk
