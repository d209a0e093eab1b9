#include "files/VFolderTreeCopy.h"

#include <cerrno>
#include <vector>

#include "files/VFileError.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "files/mac/XMacFilePath.h"
#include "kernel/intl/VUTFCodec.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

namespace {

constexpr VError kFileDeleteFailed = MakeVError(kVELK_SIGNATURE, 604);
constexpr VError kFileCopyFailed = MakeVError(kVELK_SIGNATURE, 605);
constexpr VError kCopySourceMissing = MakeVError(kVELK_SIGNATURE, 650);
constexpr VError kCreateFailed = MakeVError(kVELK_SIGNATURE, 652);
constexpr VError kDeleteFailed = MakeVError(kVELK_SIGNATURE, 653);
constexpr VError kMoveFailed = MakeVError(kVELK_SIGNATURE, 657);
constexpr VError kCopyIntoItself = MakeVError(kVELK_SIGNATURE, 660);

std::string Join(const std::string& folder, const std::string& name)
{
	return folder == "/" ? folder + name : folder + "/" + name;
}

// The copy into the source itself, pushed for source with its destination.
VError PushIntoItself(const VFilePath& source, const VFilePath& destination)
{
	return VFileError::Push(source, kCopyIntoItself, [&destination](VFileError& error) {
		VString path;
		destination.GetPath(path);
		error.SetString(VString("destination"), path);
	});
}

// What a walk met while reading a folder, pushed for that folder.
VError ListingError(const VFilePath& folder, VError error)
{
	return error == VE_OK ? VE_OK : VFileError::Wrap(folder, error, kCopySourceMissing);
}

// Deletes a tree this copy made, with its errors kept off the task: the failure that made the copy stop is
// the one to report.
void TakeBack(const VFolder& folder)
{
	StErrorContextInstaller quiet(false, true);
	folder.Delete(true);
}

// The same for the folder name of the destination folder open as parent.
void TakeBackIn(const XMacOpenFolder& parent, const std::string& name, const std::string& path)
{
	XMacRemovalStop stop;
	parent.RemoveSub(name, path, stop);
}

// A name as the system gives it, as a native name (a ':' stands as '/'); false when it is not UTF-8, which
// no path can hold.
bool NativeName(const std::string& name, VString& out)
{
	std::u16string units;
	if (!FromStrictUTF8(name.data(), name.size(), units))
		return false;
	for (char16_t& unit : units)
	{
		if (unit == u':')
			unit = u'/';
	}
	out.Clear();
	out.AppendUniChars(reinterpret_cast<const UniChar*>(units.data()), int32(units.size()));
	return true;
}

std::pair<uint64, uint64> Key(const VFolderIdentity& identity)
{
	return { identity.fDevice, identity.fInode };
}

}  // namespace

VError WrapRemovalError(const VFilePath& folder, VError result, const XMacRemovalStop& stop)
{
	VFilePath at;
	if (!stop.fPath.empty())
		XMacFile::GetFilePathFromPosixPath(stop.fPath.c_str(), stop.fAtFolder, at);
	const bool named = at.IsValid();
	return VFileError::Wrap(named ? at : folder, result, named && !stop.fAtFolder ? kFileDeleteFailed : kDeleteFailed);
}

VFolderTreeCopy::VFolderTreeCopy(uint32 options)
	: fOptions(options)
	, fGoOn((options & eFCOPY_CONTINUE_ON_ERROR) != 0)
	, fReplace((options & eFCOPY_REPLACE) != 0)
{
}

VError VFolderTreeCopy::CopyFolder(const VFolder& source, const VFolder& destination, const VFolder& target)
{
	fFileSystem = destination.GetFileSystem();
	Place from{ source.GetPath(), XMacFilePath::ToSystemFolderPath(source.GetPath()), {} };
	if (VError refused = _OpenSource(source, from))
		return refused;
	if (VError refused = _RefuseWritesIntoSource(from, destination.GetPath(), target.GetPath()))
		return refused;
	// A destination that cannot be opened is reached by its path: making the target there fails and says why.
	Place into{ destination.GetPath(), XMacFilePath::ToSystemFolderPath(destination.GetPath()), {} };
	into.fOpen.Open(into.fPath);
	const std::string targetPosix = XMacFilePath::ToSystemFolderPath(target.GetPath());
	const std::string name = targetPosix.substr(targetPosix.rfind('/') + 1);
	return _CopyFolderInto(from, into.fOpen.IsOpen() ? &into : nullptr, name, target.GetPath());
}

VError VFolderTreeCopy::CopyContents(const VFolder& source, const VFolder& destination)
{
	fFileSystem = destination.GetFileSystem();
	Place from{ source.GetPath(), XMacFilePath::ToSystemFolderPath(source.GetPath()), {} };
	if (VError refused = _OpenSource(source, from))
		return refused;
	if (VError refused = _RefuseWritesIntoSource(from, destination.GetPath(), destination.GetPath()))
		return refused;
	return _CopyContentsInto(from, nullptr, std::string(), destination.GetPath());
}

VError VFolderTreeCopy::_OpenSource(const VFolder& source, Place& from)
{
	const VError opened = from.fOpen.Open(from.fPath);
	if (opened == VE_OK)
		return VE_OK;
	if (!source.Exists())
		return VFileError::Push(from.fPath, kCopySourceMissing);
	return ListingError(from.fPath, opened);
}

void VFolderTreeCopy::_CollectSourceFolders(const XMacOpenFolder& folder)
{
	fSourceFolders.insert(Key(folder.GetIdentity()));
	std::vector<std::string> folders;
	std::vector<std::string> others;
	// What cannot be read here the copy meets again, and reports.
	folder.List(folders, others);
	for (const std::string& name : folders)
	{
		XMacOpenFolder child;
		if (child.OpenSub(folder, name, false) == VE_OK)
			_CollectSourceFolders(child);
	}
}

bool VFolderTreeCopy::_IsSourceFolder(const XMacOpenFolder& folder) const
{
	return folder.IsOpen() && fSourceFolders.count(Key(folder.GetIdentity())) != 0;
}

bool VFolderTreeCopy::_TargetsClash(const XMacOpenFolder& source, const XMacOpenFolder& target)
{
	if (_IsSourceFolder(target))
		return true;
	std::vector<std::string> folders;
	std::vector<std::string> others;
	source.List(folders, others);
	for (const std::string& name : folders)
	{
		XMacOpenFolder from;
		XMacOpenFolder into;
		if (from.OpenSub(source, name, false) == VE_OK && into.OpenSub(target, name, true) == VE_OK && _TargetsClash(from, into))
			return true;
	}
	return false;
}

VError VFolderTreeCopy::_RefuseWritesIntoSource(const Place& from, const VFilePath& destination, const VFilePath& written)
{
	_CollectSourceFolders(from.fOpen);
	// Where the copy writes first: the folder written into, or the nearest folder above it that exists.
	VFilePath holder = written;
	XMacOpenFolder open;
	while (open.Open(holder) != VE_OK)
	{
		VFilePath parent;
		if (!holder.GetParent(parent))
			break;
		holder = parent;
	}
	if (_IsSourceFolder(open))
		return PushIntoItself(from.fPath, destination);
	// A folder merged into, and every folder below it that the copy would write into.
	if (holder.GetPath(FPS_POSIX).EqualToStringRaw(written.GetPath(FPS_POSIX)) && open.IsOpen() && _TargetsClash(from.fOpen, open))
		return PushIntoItself(from.fPath, destination);
	return VE_OK;
}

VError VFolderTreeCopy::_RefuseMountsInTarget(const Place& from, const VFilePath& destination, const VFilePath& target)
{
	// A link at the target goes as a link: what it leads to is not deleted.
	if (!XMacFolder(target).Exists(false))
		return VE_OK;
	VFilePath mount;
	XMacFolder::FindMountInside(target, mount);
	if (!mount.IsValid())
		return VE_OK;
	XMacOpenFolder mounted;
	mounted.Open(mount);
	// A mount that shows the source, a folder of it or a folder holding it: deleting the old target would
	// delete the source.
	if (_IsSourceFolder(mounted) || XMacFolder(from.fPath).IsSameOrInside(mount) || XMacFolder(mount).IsSameOrInside(from.fPath))
		return PushIntoItself(from.fPath, destination);
	return VFileError::Wrap(mount, MakePosixError(EBUSY), kDeleteFailed);
}

VError VFolderTreeCopy::_RefuseSourceFolder(const Place& from, const Place& into) const
{
	return _IsSourceFolder(into.fOpen) ? PushIntoItself(from.fPath, into.fPath) : VE_OK;
}

// As VFolder::CopyTo: the target replaced (natively first), else made or merged into item by item.
VError VFolderTreeCopy::_CopyFolderInto(Place& from, Place* parent, const std::string& name, const VFilePath& targetPath)
{
	const VFolder target(targetPath, fFileSystem);
	bool isFolder = false;
	const std::string targetPosix = XMacFilePath::ToSystemFolderPath(targetPath);
	if (fReplace)
	{
		const bool exists = parent != nullptr ? parent->fOpen.HasEntry(name, true, isFolder) && isFolder : target.Exists();
		VFilePath destination;
		targetPath.GetParent(destination);
		if (exists)
			return _ReplaceByCopy(from, destination, targetPath);
		// A failure of the native copy is not reported: the copy is made again item by item.
		const std::string to = parent != nullptr ? parent->fOpen.PathTo(name, targetPosix) : targetPosix;
		if (from.fOpen.CopyTree(from.fPosix, to) == VE_OK)
			return VE_OK;
		// Should a part remain, the copy starts clean.
		if (parent != nullptr ? parent->fOpen.HasEntry(name, false, isFolder) : target.Exists())
		{
			XMacRemovalStop stop;
			const VError removed = parent != nullptr ? parent->fOpen.RemoveSub(name, targetPosix, stop) : target.Delete(true);
			if (removed != VE_OK)
				return parent != nullptr ? WrapRemovalError(targetPath, removed, stop) : removed;
		}
	}
	bool made = false;
	const VError result = _CopyContentsInto(from, parent, name, targetPath, &made);
	// A copy that stopped at a failure takes back the tree it made, so that no half copy stands as if whole;
	// asked to copy what it can, it keeps it.
	if (result != VE_OK && made && !fGoOn)
	{
		if (parent != nullptr)
			TakeBackIn(parent->fOpen, name, targetPosix);
		else if (target.Exists())
			TakeBack(target);
	}
	return result;
}

// As VFolder::CopyContentsTo: the folder name of parent (or at targetPath when there is no parent) made
// when missing, and checked, then the source's entries copied into it.
VError VFolderTreeCopy::_CopyContentsInto(Place& from, Place* parent, const std::string& name, const VFilePath& targetPath, bool* made)
{
	Place into{ targetPath, XMacFilePath::ToSystemFolderPath(targetPath), {} };
	if (parent != nullptr)
	{
		if (into.fOpen.OpenSub(parent->fOpen, name, true) != VE_OK)
		{
			const VError created = into.fOpen.MakeSub(parent->fOpen, name);
			if (created != VE_OK)
				return VFileError::Wrap(targetPath, created, kCreateFailed);
			if (made != nullptr)
				*made = true;
		}
	}
	else
	{
		const VFolder folder(targetPath, fFileSystem);
		if (!folder.Exists())
		{
			const VError created = folder.Create();
			if (created != VE_OK)
				return created;
			if (made != nullptr)
				*made = true;
		}
		const VError opened = into.fOpen.Open(targetPath);
		if (opened != VE_OK)
			return VFileError::Wrap(targetPath, opened, kCreateFailed);
	}
	// Checked as it was opened: a folder swapped in meanwhile is refused too.
	if (VError refused = _RefuseSourceFolder(from, into))
		return refused;
	return _CopyEntries(from, into);
}

// A target that is not empty is replaced by a copy made beside it under a hidden name (natively, else item by
// item), exchanged with it, and only then deleted: it stays whole until the copy is, and a copy that fails is
// taken back with the target left as it was.
VError VFolderTreeCopy::_ReplaceByCopy(Place& from, const VFilePath& destination, const VFilePath& targetPath)
{
	if (VError refused = _RefuseMountsInTarget(from, destination, targetPath))
		return refused;
	VFilePath stagingPath;
	std::string staging;
	if (from.fOpen.CopyTreeBeside(from.fPosix, XMacFilePath::ToSystemFolderPath(targetPath), staging) == VE_OK)
		XMacFile::GetFilePathFromPosixPath(staging.c_str(), true, stagingPath);
	else
	{
		// As on a new target, a native copy that fails is not reported: the copy is redone item by item.
		const VError created = VFileError::Wrap(targetPath, XMacFolder::CreateBeside(targetPath, &stagingPath), kCreateFailed);
		if (created != VE_OK)
			return created;
		const VError copied = _CopyContentsInto(from, nullptr, std::string(), stagingPath);
		if (copied != VE_OK)
		{
			TakeBack(VFolder(stagingPath, fFileSystem));
			return copied;
		}
	}
	VFilePath oldPath;
	const VError placed = XMacFolder::PutInPlace(stagingPath, targetPath, &oldPath);
	if (placed != VE_OK)
	{
		TakeBack(VFolder(stagingPath, fFileSystem));
		return VFileError::Wrap(targetPath, placed, kMoveFailed);
	}
	return VFolder(oldPath, fFileSystem).Delete(true);
}

// The sub-folders first, each as a folder copy, then the other entries; the first error is kept, and the
// copy goes on after it only when asked to.
VError VFolderTreeCopy::_CopyEntries(Place& from, Place& into)
{
	std::vector<std::string> folders;
	std::vector<std::string> others;
	const VError listed = from.fOpen.List(folders, others);
	const bool skipHidden = (fOptions & eFCOPY_SKIP_HIDDEN) != 0;
	VError first = VE_OK;
	auto goesOn = [&] { return first == VE_OK || fGoOn; };
	auto keep = [&first](VError result) {
		if (first == VE_OK)
			first = result;
	};
	bool unnamed = false;  // a name that is not UTF-8 cannot be given a path: the listing fails
	auto named = [&](const std::string& name, VString& native) {
		if (skipHidden && name[0] == '.')
			return false;
		if (NativeName(name, native))
			return true;
		unnamed = true;
		return false;
	};
	for (size_t i = 0; i < folders.size() && goesOn(); ++i)
	{
		const std::string& name = folders[i];
		VString native;
		if (!named(name, native))
			continue;
		Place child{ from.fPath, Join(from.fPosix, name), {} };
		child.fPath.ToSubFolder(native);
		const VError opened = child.fOpen.OpenSub(from.fOpen, name, false);
		if (opened == MakePosixError(ELOOP) || opened == MakePosixError(ENOTDIR))
		{
			// No folder any more: copied as what it is now, a link as a link.
			keep(_CopyEntry(from, name, native, into));
			continue;
		}
		if (opened != VE_OK)
		{
			keep(ListingError(child.fPath, opened));
			continue;
		}
		VFilePath targetPath = into.fPath;
		targetPath.ToSubFolder(native);
		keep(_CopyFolderInto(child, &into, name, targetPath));
	}
	if (goesOn())
		keep(ListingError(from.fPath, unnamed ? MakePosixError(EILSEQ) : listed));
	unnamed = false;
	for (size_t i = 0; i < others.size() && goesOn(); ++i)
	{
		const std::string& name = others[i];
		VString native;
		if (!named(name, native))
			continue;
		keep(_CopyEntry(from, name, native, into));
	}
	if (goesOn())
		keep(ListingError(from.fPath, unnamed ? MakePosixError(EILSEQ) : listed));
	return first;
}

// As VFile::CopyTo into the folder: the entry (a file, a link or a special entry) copied to the same name.
VError VFolderTreeCopy::_CopyEntry(Place& from, const std::string& name, const VString& nativeName, Place& into)
{
	VFilePath path = from.fPath;
	path.ToSubFile(nativeName);
	const std::string to = into.fOpen.PathTo(name, Join(into.fPosix, name));
	const VError copied = from.fOpen.CopyEntry(name, Join(from.fPosix, name), to, fReplace);
	return VFileError::Wrap(path, copied, kFileCopyFailed, [&into, this](VFileError& error) {
		VString text;
		into.fPath.GetPath(text);
		error.SetString(VString("destination"), text);
		error.SetLong8(VString("options"), int64(fOptions));
	});
}

}  // namespace velk
