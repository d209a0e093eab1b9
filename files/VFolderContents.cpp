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
#include "files/VFolderTreeCopy.h"
#include "files/mac/XMacFile.h"
#include "files/mac/XMacFilePath.h"
#include "runtime/StThrowError.h"
#include "runtime/VTaskMgr.h"

namespace velk {

namespace {

constexpr VError kCopySourceMissing = MakeVError(kVELK_SIGNATURE, 650);
constexpr VError kNotEmpty = MakeVError(kVELK_SIGNATURE, 651);
constexpr VError kDeleteFailed = MakeVError(kVELK_SIGNATURE, 653);
constexpr VError kRevealFailed = MakeVError(kVELK_SIGNATURE, 656);
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
	const VError result = VFolderTreeCopy(options).CopyFolder(*this, destination, *target);
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
	return VFolderTreeCopy(options).CopyContents(*this, destination);
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
	if (deleteContents)
	{
		// One walk relative to the folders it opens: what is swapped for a link meanwhile goes as a link.
		XMacRemovalStop stop;
		const VError result = fPlatform.DeleteTree(false, true, [] { VTaskMgr::Yield(); }, stop);
		return WrapRemovalError(GetPath(), result, stop);
	}
	if (!IsEmpty())
	{
		PushFolderError(*this, kNotEmpty);
		return kNotEmpty;
	}
	return VFileError::Wrap(GetPath(), fPlatform.Delete(), kDeleteFailed);
}

VError VFolder::DeleteContents(bool recursive) const
{
	XMacRemovalStop stop;
	const VError result = fPlatform.DeleteTree(true, recursive, [] { VTaskMgr::Yield(); }, stop);
	// A folder that vanished meanwhile has no contents left to delete.
	if (result == MakePosixError(ENOENT) && !fPlatform.Exists(true))
		return VE_OK;
	return WrapRemovalError(GetPath(), result, stop);
}

VError VFolder::DeleteForced() const
{
	XMacRemovalStop stop;
	VError result = fPlatform.DeleteForced(&stop);
	if (result == VE_UNIMPLEMENTED)
	{
		result = DeleteContents(true);
		if (result == VE_OK)
			result = fPlatform.Delete();
	}
	// Failures are the folder's, but for a mount met, which the error names.
	VFilePath at;
	if (stop.fAtMount)
		XMacFile::GetFilePathFromPosixPath(stop.fPath.c_str(), true, at);
	return VFileError::Wrap(at.IsValid() ? at : GetPath(), result, kDeleteFailed);
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
