#include "updater/VBundleSwap.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/StThrowError.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"
#include "updater/VUpdaterErrors.h"
#include "updater/VBundleSwapJournal.h"
#include "updater/VUpdaterLog.h"
#include "updater/mac/XPosixBundlePath.h"
#include "updater/mac/XPosixBundleSwap.h"

namespace velk {

namespace {

constexpr VError kFileNotFound = MakeVError(kVELK_SIGNATURE, 600);
constexpr VError kFolderNotFound = MakeVError(kVELK_SIGNATURE, 650);
constexpr int32 kLastCounter = 9999;
constexpr int kRenameAttempts = 5;
constexpr int32 kRenameRetryDelayMs = 3000;

// Whether anything at all stands at the folder path: a folder, a file, a link (dangling or not) or any
// other entry. Asked of the entry itself, so that a link is never followed.
bool IsTaken(const VFilePath& folderPath)
{
	VFilePath entry;
	VString name;
	folderPath.GetName(name);
	if (!folderPath.GetParent(entry))
		return true;
	entry.ToSubFile(name);
	const VFile file(entry);
	return file.GetMacFile().GetTimeAttributes(nullptr, nullptr, nullptr) != MakePosixError(ENOENT);
}

// 'UPRy' 13 with the two bundles' paths.
void ThrowCopyFailed(const VFilePath& from, const VFilePath& to)
{
	StThrowError<> error(VE_OK, VE_UPDATER_COPY_UPTODATE_APP_FAILED);
	if (error.Get() != nullptr)
	{
		error->SetString(VString("from"), from.GetPath(FPS_POSIX));
		error->SetString(VString("to"), to.GetPath(FPS_POSIX));
	}
}

// The up-to-date bundle copied whole into the hidden staging folder, made beforehand, and flushed to the
// disk; false, 'UPRy' 13 pushed after the copy's own error, with nothing of the staging folder left.
bool Stage(const VFolder& upToDate, const VFilePath& staging, const VFilePath& destination)
{
	VString failedPath;
	VError result = XPosixBundleSwap::CopyTreeInPlace(upToDate.GetPath(), staging, failedPath);
	if (result == VE_OK)
	{
		result = XPosixBundleSwap::SyncFileSystem(staging);
		failedPath = staging.GetPath(FPS_POSIX);
	}
	if (result == VE_OK)
		return true;
	const VFilePath failed(failedPath.IsEmpty() ? staging.GetPath(FPS_POSIX) : failedPath, FPS_POSIX);
	ThrowErrorWithPath(result, failed);
	ThrowCopyFailed(upToDate.GetPath(), destination);
	DeleteStaging(staging);
	return false;
}

// Tries an operation again while the system refuses (the outdated application may still hold its bundle):
// five attempts 3000 ms apart. Each failed attempt changes nothing.
template <typename Attempt>
VError TryAgainWhileRefused(Attempt attempt)
{
	VError result = VE_OK;
	for (int count = 1; count <= kRenameAttempts; ++count)
	{
		if (count > 1)
			VTask::Sleep(XPosixBundleSwap::GetRetryDelay(kRenameRetryDelayMs));
		result = attempt();
		if (result == VE_OK)
			break;
	}
	return result;
}

// Each failed run keeps a copy of what could not start; only the newest (the one of inode kept) stays.
void DeleteEarlierFailedCopies(const VFilePath& place, uint64 kept)
{
	for (const VFilePath& failed : FindNumberedBeside(place, VString("failed")))
	{
		if ((kept != 0 && XPosixBundleSwap::GetInodeInFolder(failed) == kept) || !XPosixBundleSwap::IsOwnPlainFolder(failed))
			continue;
		const VString posix = failed.GetPath(FPS_POSIX);
		VString reason;
		if (DeleteQuietly(failed, reason))
			LogInfo("Deleted the earlier copy %S, which could not start either", &posix);
		else
			LogError("The earlier copy %S, which could not start either, could not be deleted: %S", &posix, &reason);
	}
}

// Puts the old bundle back at its place once the new one could not be put in.
void RollBack(const VFilePath& temporaryPath, const VFilePath& outdatedPath)
{
	LogInfo("Rolling back up-to-date application install");
	const VError restored = XPosixBundleSwap::RenameExclusive(temporaryPath, outdatedPath);
	if (restored != VE_OK)
	{
		ThrowErrorWithPaths(restored, temporaryPath, outdatedPath);
		const VString posix = temporaryPath.GetPath(FPS_POSIX);
		LogError("Outdated application could not be restored, it stays at %S", &posix);
	}
}

// The staging copy into a destination other than the outdated bundle's place: renamed in, or exchanged
// with what stands there, which is then deleted (or kept aside under a "failed" name when it cannot be).
VError PutAtDestination(const VFilePath& staging, const VFilePath& destination)
{
	if (XPosixBundleSwap::GetIdentity(destination).IsNone())
		return XPosixBundleSwap::RenameExclusive(staging, destination);
	const VError exchanged = XPosixBundleSwap::Exchange(destination, staging);
	if (exchanged != VE_OK)
		return exchanged;
	DeleteStaging(staging);
	if (XPosixBundleSwap::GetIdentity(staging).IsNone())
		return VE_OK;
	VFilePath failedPath;
	_ComputeTempFolderPath(destination, failedPath, VString("failed"));
	const VString posix = failedPath.GetPath(FPS_POSIX);
	LogInfo("Moving the replaced install aside (%S)", &posix);
	XPosixBundleSwap::RenameExclusive(staging, failedPath);
	return VE_OK;
}

// The old bundle out of the place and the staging copy into it: in one step where the file system
// exchanges folders, else a rename aside at once followed by a rename into the place. Only the final
// refusal of the move of the old bundle is reported ('UPRy' 11). old receives where the old bundle is.
bool SwapIntoPlace(const VFilePath& outdatedPath, const VFilePath& place, const VFilePath& staging,
	const VFilePath& temporaryPath, VFilePath& old)
{
	const bool samePlace = outdatedPath.GetPath(FPS_POSIX).EqualToStringRaw(place.GetPath(FPS_POSIX));
	bool exchanged = false;
	const VError moved = TryAgainWhileRefused([&]() {
		if (samePlace)
		{
			const VError result = XPosixBundleSwap::Exchange(place, staging);
			exchanged = result == VE_OK;
			if (result != MakePosixError(EINVAL))
				return result;
		}
		return XPosixBundleSwap::RenameExclusive(outdatedPath, temporaryPath);
	});
	if (moved != VE_OK)
	{
		ThrowErrorWithPaths(moved, outdatedPath, samePlace ? staging : temporaryPath);
		ThrowErrorWithPaths(VE_UPDATER_RENAME_OUTDATED_APP_FAILED, outdatedPath, temporaryPath);
		return false;
	}
	if (exchanged)
	{
		// The old bundle now stands at the staging name; it goes under its temporary name, or stays hidden
		// there should that rename be refused: either way it is trashed after the relaunch.
		old = XPosixBundleSwap::RenameExclusive(staging, temporaryPath) == VE_OK ? temporaryPath : staging;
		return true;
	}
	old = temporaryPath;
	const VError result = samePlace ? XPosixBundleSwap::RenameExclusive(staging, place) : PutAtDestination(staging, place);
	if (result == VE_OK)
		return true;
	ThrowErrorWithPaths(result, staging, place);
	RollBack(temporaryPath, outdatedPath);
	return false;
}

}  // namespace

bool ThrowIfSameOrNested(const VFolder& outdated, const VFolder& upToDate)
{
	if (!XPosixBundlePath::IsSameOrInside(upToDate.GetPath(), outdated.GetPath()))
		return false;
	ThrowErrorWithPath(VE_UPDATER_SAME_OR_NESTED_APPS, outdated.GetPath());
	return true;
}

bool DeleteStaging(const VFilePath& staging)
{
	const VFolder folder(staging);
	if (!folder.Exists())
		return true;
	VError result = VE_OK;
	{
		StErrorContextInstaller quiet(false, true);
		result = folder.Delete(true);
	}
	if (result == VE_OK || folder.DeleteForced() == VE_OK)
		return true;
	const VString posix = staging.GetPath(FPS_POSIX);
	LogError("The unfinished copy %S could not be deleted", &posix);
	return false;
}

bool DeleteQuietly(const VFilePath& path, VString& reason)
{
	const VFolder folder(path);
	{
		StErrorContextInstaller quiet(false, true);
		if (folder.Delete(true) != VE_OK && !XPosixBundleSwap::GetIdentity(path).IsNone())
			folder.DeleteForced();
		if (const VErrorBase* last = quiet.GetLast())
		{
			last->GetErrorDescription(reason);
			if (reason.IsEmpty())
				last->GetErrorString(reason);
		}
	}
	if (XPosixBundleSwap::GetIdentity(path).IsNone())
		return true;
	reason.AppendPrintf("; %lld entries are left", (long long) XPosixBundleSwap::CountEntries(path));
	return false;
}

VError PutOldBack(const VFilePath& place, const VFilePath& old, const VFilePath& hidden, VFilePath& copy)
{
	copy.Clear();
	if (XPosixBundleSwap::GetIdentity(place).IsNone())
		return XPosixBundleSwap::RenameExclusive(old, place);
	VError result = XPosixBundleSwap::Exchange(old, place);
	if (result == VE_OK)
	{
		copy = old;
		VString name;
		old.GetName(name);
		if (hidden.IsValid() && name.GetUniChar(1) != u'.' && XPosixBundleSwap::RenameExclusive(old, hidden) == VE_OK)
			copy = hidden;
		return VE_OK;
	}
	if (result != MakePosixError(EINVAL) || !hidden.IsValid())
		return result;
	result = XPosixBundleSwap::RenameExclusive(place, hidden);
	if (result != VE_OK)
		return result;
	copy = hidden;
	result = XPosixBundleSwap::RenameExclusive(old, place);
	if (result != VE_OK && XPosixBundleSwap::RenameExclusive(hidden, place) == VE_OK)
		copy.Clear();
	return result;
}

std::vector<VFilePath> FindNumberedBeside(const VFilePath& bundle, const VString& suffix)
{
	VFilePath folder;
	if (!bundle.GetParent(folder))
		return {};
	VString stemText;
	VString extensionText;
	bundle.GetFolderName(stemText, false);
	bundle.GetExtension(extensionText);
	// Appended piece by piece: GCC 12 warns (-Wrestrict) on a literal + temporary string here.
	std::string stem = to_string(stemText);
	stem += "_";
	stem += to_string(suffix);
	std::string extension;
	if (!extensionText.IsEmpty())
	{
		extension = ".";
		extension += to_string(extensionText);
	}
	struct Found
	{
		int64 fChanged;
		std::string fName;
		VFilePath fPath;
	};
	std::vector<Found> found;
	for (const std::string& name : XPosixBundleSwap::ListNames(folder))
	{
		if (name.size() != stem.size() + 4 + extension.size() || name.compare(0, stem.size(), stem) != 0 ||
			name.compare(stem.size() + 4, std::string::npos, extension) != 0 ||
			name.find_first_not_of("0123456789", stem.size()) != stem.size() + 4)
			continue;
		VFilePath path = folder;
		path.ToSubFolder(VString(name.c_str()));
		if (XPosixBundleSwap::IsPlainFolder(path))
			found.push_back({XPosixBundleSwap::GetChangeTime(path), name, path});
	}
	std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
		return a.fChanged != b.fChanged ? a.fChanged > b.fChanged : a.fName > b.fName;
	});
	std::vector<VFilePath> paths;
	for (const Found& entry : found)
		paths.push_back(entry.fPath);
	return paths;
}

bool FlushFolderOf(const VFilePath& entry)
{
	VFilePath folder;
	if (!entry.GetParent(folder))
		return false;
	const VError flushed = XPosixBundleSwap::SyncFolder(folder);
	// A file system that cannot flush a folder keeps its names as it keeps them.
	if (flushed == VE_OK || flushed == MakePosixError(EINVAL))
		return true;
	const VString posix = folder.GetPath(FPS_POSIX);
	LogError("The folder %S could not be flushed to the disk", &posix);
	VRefPtr<VErrorBase> error(new (std::nothrow) VErrorBase(flushed), true);
	_LogError(error.Get());
	return false;
}

bool RestoreOutdated(const VFilePath& place, const VFilePath& aside, const VFilePath& failed, uint64 oldInode,
	uint64 newInode)
{
	auto at = [](const VFilePath& path) { return XPosixBundleSwap::GetInodeInFolder(path); };
	VError result = VE_OK;
	if (oldInode != 0 && newInode != 0 && at(place) == newInode && at(aside) == oldInode)
	{
		result = XPosixBundleSwap::Exchange(aside, place);
		if (result == MakePosixError(EINVAL))
		{
			result = XPosixBundleSwap::RenameExclusive(place, failed);
			if (result == VE_OK)
				result = XPosixBundleSwap::RenameExclusive(aside, place);
		}
	}
	// A swap back without exchange cut between its two renames.
	if (result == VE_OK && oldInode != 0 && XPosixBundleSwap::GetIdentity(place).IsNone() && at(aside) == oldInode)
		result = XPosixBundleSwap::RenameExclusive(aside, place);
	if (result == VE_OK && newInode != 0 && at(aside) == newInode)
		result = XPosixBundleSwap::RenameExclusive(aside, failed);
	if (result != VE_OK)
		ThrowErrorWithPaths(result, aside, place);

	// Where each bundle ends, as the folder shows it now.
	const uint64 atPlace = at(place);
	const VString placeText = place.GetPath(FPS_POSIX);
	const VString newText = (atPlace == newInode ? place : at(failed) == newInode ? failed : aside).GetPath(FPS_POSIX);
	if (oldInode != 0 && atPlace == oldInode)
	{
		LogInfo("The outdated application is back at %S; the up-to-date one, which could not start, is kept at %S",
			&placeText, &newText);
		DeleteEarlierFailedCopies(place, newInode);
		return true;
	}
	const VString oldText = aside.GetPath(FPS_POSIX);
	LogError("The outdated application could not be put back at %S: it stays at %S, the up-to-date one at %S",
		&placeText, &oldText, &newText);
	return false;
}

bool _PutBackOutdated(const VFilePath& place, const VFolder& old, VBundleSwapJournal* journal)
{
	LogInfo("Putting the outdated application back");
	const uint64 oldInode = XPosixBundleSwap::GetInodeInFolder(old.GetPath());
	const uint64 newInode = XPosixBundleSwap::GetInodeInFolder(place);
	VFilePath failed;
	_ComputeTempFolderPath(place, failed, VString("failed"));
	if (journal != nullptr &&
		!journal->Record(eSwapReverting, VFilePath(), old.GetPath(), oldInode, newInode, failed))
		return false;
	const bool restored = RestoreOutdated(place, old.GetPath(), failed, oldInode, newInode);
	FlushFolderOf(place);
	return restored;
}

VFolder* _SwapApplications(const VFolder& outdated, const VFolder& upToDate, const VFolder& destination,
	VBundleSwapJournal* journal)
{
	const VFilePath outdatedPath = outdated.GetPath();
	if (ThrowIfSameOrNested(outdated, upToDate))
		return nullptr;

	VFilePath temporaryPath;
	_ComputeTempFolderPath(outdatedPath, temporaryPath, VString("old"));

	const VFilePath place = destination.GetPath();
	VRefPtr<VFolder> parent(destination.RetainParentVFolder(false), true);
	if (!parent)
	{
		ThrowErrorWithPath(VE_UPDATER_INSTALL_FOLDER_NOT_CREATED, place);
		return nullptr;
	}
	if (!parent->Exists() && parent->CreateRecursive() != VE_OK)
	{
		ThrowErrorWithPath(VE_UPDATER_INSTALL_FOLDER_NOT_CREATED, parent->GetPath());
		return nullptr;
	}

	// Everything is copied and on the disk before the old bundle moves, so the place always holds a whole
	// application and a kill leaves a staging folder that the journal names.
	const VFilePath staging = VBundleSwapJournal::MakeStagingPath(place);
	DeleteStaging(staging);
	const uint64 oldInode = XPosixBundleSwap::GetInodeInFolder(place);
	if (journal != nullptr && !journal->Record(eSwapCopying, staging, temporaryPath, oldInode, 0))
		return nullptr;
	// A folder that takes no new entry now may take one once whoever holds it lets go, as for the rename.
	const VError made = TryAgainWhileRefused([&]() { return XPosixBundleSwap::MakeFolder(staging); });
	if (made != VE_OK)
	{
		ThrowErrorWithPath(made, staging);
		ThrowErrorWithPaths(VE_UPDATER_RENAME_OUTDATED_APP_FAILED, outdatedPath, temporaryPath);
		return nullptr;
	}
	if (!Stage(upToDate, staging, place))
		return nullptr;
	const uint64 newInode = XPosixBundleSwap::GetInodeInFolder(staging);
	if (journal != nullptr && !journal->Record(eSwapSwapping, staging, temporaryPath, oldInode, newInode))
	{
		DeleteStaging(staging);
		return nullptr;
	}

	VFilePath oldPath;
	if (!SwapIntoPlace(outdatedPath, place, staging, temporaryPath, oldPath))
	{
		DeleteStaging(staging);
		return nullptr;
	}
	// The renames reach the disk before the journal says they were made.
	FlushFolderOf(place);
	if (!outdatedPath.GetPath(FPS_POSIX).EqualToStringRaw(place.GetPath(FPS_POSIX)))
		FlushFolderOf(outdatedPath);
	if (journal != nullptr)
		journal->Record(eSwapInstalled, staging, oldPath, oldInode, newInode);
	VFolder* old = new (std::nothrow) VFolder(oldPath);
	if (old == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return old;
}

bool DiscardOldBundle(const VFilePath& old)
{
	const VFolder folder(old);
	if (folder.MoveToTrash() == VE_OK)
		return true;
	// A deletion that reports a failure (the parent's mode not restored) may still have removed it all.
	folder.DeleteForced();
	const VString posix = old.GetPath(FPS_POSIX);
	if (XPosixBundleSwap::GetIdentity(old).IsNone())
	{
		LogInfo("The old application %S could not be moved to the Trash: it was deleted", &posix);
		return true;
	}
	const int64 left = XPosixBundleSwap::CountEntries(old);
	LogError("The old application could not be removed: %lld entries are left at %S", (long long) left, &posix);
	return false;
}

bool _ComputeTempFolderPath(const VFilePath& path, VFilePath& out, const VString& suffix)
{
	out = path;
	if (!path.IsFolder())
		return false;
	VString name;
	path.GetFolderName(name, false);
	bool free = false;
	for (int32 counter = 1; counter <= kLastCounter && !free; ++counter)
	{
		VString candidate(name);
		if (suffix.IsEmpty())
			candidate.AppendPrintf("%04d", counter);
		else
			candidate.AppendPrintf("_%S%04d", &suffix, counter);
		out = path;
		out.SetFolderName(candidate, false);
		free = !IsTaken(out);
	}
	return free;
}

VError RobustCopyFile(const VFilePath& source, const VFilePath& destination, uint32 options)
{
	VFilePath folderPath;
	destination.GetFolder(folderPath);
	const VFolder folder(folderPath);
	if (!folder.Exists())
	{
		const VError created = folder.CreateRecursive();
		if (created != VE_OK)
			return ThrowErrorWithPath(created, folderPath);
	}
	const VFile file(source);
	if (file.CopyTo(destination, nullptr, options) != VE_OK)
		return ThrowErrorWithPaths(VE_UPDATER_FILE_COPY_FAILED, source, destination);
	return VE_OK;
}

bool RobustCopyFolderContent(const VFolder& source, const VFolder& destination, uint32 options)
{
	if (!source.Exists())
	{
		ThrowErrorWithPath(kFolderNotFound, source.GetPath());
		return false;
	}
	if (!destination.Exists())
	{
		const VError created = destination.CreateRecursive();
		if (created != VE_OK)
		{
			ThrowErrorWithPath(created, destination.GetPath());
			return false;
		}
	}
	const VError copied = source.CopyContentsTo(destination, options);
	if (copied != VE_OK)
	{
		ThrowErrorWithPath(copied, destination.GetPath());
		return false;
	}
	return true;
}

bool RobustCopyFolderContent(const VFilePath& source, const VFilePath& destination, uint32 options)
{
	return RobustCopyFolderContent(VFolder(source), VFolder(destination), options);
}

VError FindFileByExt(const VFolder& folder, const VString& extension, VFilePath& out)
{
	if (!folder.GetPath().IsFolder())
		return VE_INVALID_PARAMETER;
	out.Clear();
	bool found = false;
	folder.IterateFiles(
		[&](IFile* file, IFileAttributeAccessor*) {
			VString fileExtension;
			file->GetExtension(fileExtension);
			found = fileExtension.EqualToString(extension, false);
			if (found)
				out = file->GetPath();
			return !found;
		},
		eFI_FILES);
	if (found)
		return VE_OK;
	return kFileNotFound;
}

VError FindFileByExt(const VFilePath& folder, const VString& extension, VFilePath& out)
{
	if (!folder.IsFolder())
		return VE_INVALID_PARAMETER;
	return FindFileByExt(VFolder(folder), extension, out);
}

}  // namespace velk
