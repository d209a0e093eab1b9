#include "updater/VBundleSwapJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/VFolder.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VTask.h"
#include "updater/VBundleSwap.h"
#include "updater/VUpdaterErrors.h"
#include "updater/VUpdaterLog.h"
#include "updater/mac/XPosixBundlePath.h"
#include "updater/mac/XPosixBundleSwap.h"

namespace velk {

namespace {

VFilePath Sibling(const VFilePath& bundle, const VString& name, bool folder)
{
	VFilePath parent;
	if (!bundle.GetParent(parent))
		return VFilePath();
	return folder ? parent.ToSubFolder(name) : parent.ToSubFile(name);
}

VString BundleName(const VFilePath& bundle)
{
	VString name;
	bundle.GetName(name);
	return name;
}

std::string NameText(const VFilePath& path)
{
	return path.IsValid() ? to_string(BundleName(path)) : std::string();
}

// The entry's name as a record gives it: a name, or the whole path an earlier version recorded.
std::string RecordedName(std::string text)
{
	while (!text.empty() && text.back() == '/')
		text.pop_back();
	const size_t slash = text.rfind('/');
	return slash == std::string::npos ? text : text.substr(slash + 1);
}

// An inode as recorded: the number, or the "device:inode" of an earlier version; 0 for none.
uint64 RecordedInode(const std::string& text)
{
	const size_t colon = text.rfind(':');
	return std::strtoull(text.c_str() + (colon == std::string::npos ? 0 : colon + 1), nullptr, 10);
}

bool IsTaken(const VFilePath& path)
{
	return path.IsValid() && !XPosixBundleSwap::GetIdentity(path).IsNone();
}

uint64 InodeAt(const VFilePath& path)
{
	return path.IsValid() ? XPosixBundleSwap::GetInodeInFolder(path) : 0;
}

bool SamePath(const VFilePath& first, const VFilePath& second)
{
	return first.IsValid() && second.IsValid() && first.GetPath(FPS_POSIX).EqualToStringRaw(second.GetPath(FPS_POSIX));
}

}  // namespace

VBundleSwapJournal::VBundleSwapJournal(const VFilePath& bundle)
	: fBundle(bundle)
	, fPath(Sibling(bundle, VString(".") + BundleName(bundle) + VString(".velk-update"), false))
	, fLock(fPath)
{
}

VFilePath VBundleSwapJournal::MakeStagingPath(const VFilePath& bundle)
{
	VString name(".");
	name = name + BundleName(bundle);
	name.AppendPrintf(".velk-new-%d", int(XPosixBundleSwap::GetCurrentProcessID()));
	return Sibling(bundle, name, true);
}

VFilePath VBundleSwapJournal::_Sibling(const std::string& name) const
{
	if (name.empty())
		return VFilePath();
	return Sibling(fBundle, VString(name.c_str()), true);
}

bool VBundleSwapJournal::Lock(int32 waitMs)
{
	bool waited = false;
	const VError locked = fLock.Lock(waitMs, waited);
	if (locked == VE_OK && !waited)
		return true;
	if (locked != VE_OK && !waited)
	{
		const VString posix = fPath.GetPath(FPS_POSIX);
		LogInfo("Update lock not taken (%S)", &posix);
		return true;
	}
	// The other update of this bundle ran meanwhile: running this one too would install and relaunch twice.
	if (locked == VE_OK)
		Finish();
	const VString posix = fBundle.GetPath(FPS_POSIX);
	LogError("Another update of %S is under way", &posix);
	ThrowErrorWithPath(VE_UPDATER_UPDATE_UNDER_WAY, fBundle);
	return false;
}

bool VBundleSwapJournal::Record(EBundleSwapStep step, const VFilePath& staging, const VFilePath& aside, uint64 oldInode,
	uint64 upToDateInode, const VFilePath& failed)
{
	if (!fLock.IsLocked())
		return true;
	const int32 pid = XPosixBundleSwap::GetCurrentProcessID();
	std::map<std::string, std::string> record{
		{"pid", std::to_string(pid)},
		{"start", std::to_string(XPosixBundleSwap::GetProcessStartTime(pid))},
		{"boot", XPosixBundleSwap::GetBootID()},
		{"step", kBundleSwapStates[step].fName},
		{"bundle", NameText(fBundle)},
		{"staging", NameText(staging)},
		{"aside", NameText(aside)},
		{"old", std::to_string(oldInode)},
		{"new", std::to_string(upToDateInode)},
	};
	if (failed.IsValid())
		record["failed"] = NameText(failed);
	return _Write(record, aside);
}

bool VBundleSwapJournal::Advance(EBundleSwapStep step, const VFilePath& aside)
{
	if (!fLock.IsLocked() || fLast.empty())
		return true;
	std::map<std::string, std::string> record = fLast;
	record["step"] = kBundleSwapStates[step].fName;
	record["aside"] = NameText(aside);
	return _Write(record, aside);
}

bool VBundleSwapJournal::_Write(const std::map<std::string, std::string>& record, const VFilePath& aside)
{
	fLastAside = aside;
	fLast = record;
	const VError written = fLock.Write(record);
	if (written != VE_OK)
	{
		ThrowErrorWithPath(written, fPath);
		return false;
	}
	return true;
}

void VBundleSwapJournal::Finish()
{
	if (fLeftoverErrors)
		VTask::PushErrors(fLeftoverErrors.Get());
	fLeftoverErrors = VRefPtr<VErrorContext>();
	if (!fLock.IsLocked())
		return;
	// What the run changed is on the disk before the record that tells of it goes.
	if (fLastAside.IsValid())
	{
		FlushFolderOf(fBundle);
		XPosixBundleSwap::SyncTrashFor(fLastAside);
	}
	fLock.Remove();
	FlushFolderOf(fBundle);
}

// The names and inodes a record gives, and what the folder holds at each name now: entries are known by
// their inodes in the bundle's folder, on its file system as mounted now.
struct VBundleSwapJournal::Entries
{
	VFilePath fStaging;
	VFilePath fAside;
	VFilePath fFailed;
	uint64 fOld = 0;
	uint64 fNew = 0;

	bool IsOld(const VFilePath& path) const { return fOld != 0 && InodeAt(path) == fOld; }
	bool IsNew(const VFilePath& path) const { return fNew != 0 && InodeAt(path) == fNew; }
	// Where the old bundle stands, aside or at the staging name; invalid when at neither.
	VFilePath OldBeside() const { return IsOld(fAside) ? fAside : IsOld(fStaging) ? fStaging : VFilePath(); }
};

bool VBundleSwapJournal::Recover()
{
	if (!fLock.IsLocked())
		return true;
	bool torn = false;
	bool unreadable = false;
	std::map<std::string, std::string> record = fLock.Read(&torn, &unreadable);
	const VString journal = fPath.GetPath(FPS_POSIX);
	if (unreadable)
		LogError("The update journal %S holds no record that can be read", &journal);
	else if (torn)
		LogInfo("The update journal %S holds a record that is not whole; the one before it is used", &journal);
	fTrashUsed = false;
	fKept = XPosixBundleSwap::Identity();
	bool acted = false;
	if (!record.empty() && !record["step"].empty())
	{
		const int32 pid = int32(std::atoi(record["pid"].c_str()));
		const uint64 start = std::strtoull(record["start"].c_str(), nullptr, 10);
		if (XPosixBundleSwap::IsProcessRunning(pid, start, record["boot"]))
		{
			const VString posix = fBundle.GetPath(FPS_POSIX);
			LogError("Another update of %S is under way", &posix);
			ThrowErrorWithPath(VE_UPDATER_UPDATE_UNDER_WAY, fBundle);
			return false;
		}
		// Only a record of this very bundle is acted on.
		if (RecordedName(record["bundle"]) == NameText(fBundle))
		{
			const VString step(record["step"].c_str());
			LogInfo("Recovering the update interrupted in process %d (%S)", int(pid), &step);
			Entries entries;
			entries.fStaging = _Sibling(RecordedName(record["staging"]));
			entries.fAside = _Sibling(RecordedName(record["aside"]));
			entries.fFailed = _Sibling(RecordedName(record["failed"]));
			entries.fOld = RecordedInode(record["old"]);
			entries.fNew = RecordedInode(record["new"]);
			fLastAside = entries.fAside;
			const VBundleSwapState* state = FindBundleSwapState(record["step"].c_str());
			if (state == nullptr || !_Act(*state, entries))
			{
				LogError("The interrupted update could not be recovered");
				ThrowErrorWithPath(VE_UPDATER_RECOVERY_FAILED, fBundle);
				return false;
			}
			acted = true;
		}
	}
	bool restored = false;
	if (!acted && !IsTaken(fBundle))
		restored = _RestoreNewestOld();
	else if (!acted && unreadable)
		_LogOldBundlesBeside();
	const bool removed = _RemoveLeftovers();
	if (!acted && !removed && !restored)
		return true;
	// Done, and on the disk before the record goes: a later kill or power loss finds no record to act on
	// again, nor one that claims what the folder does not hold.
	FlushFolderOf(fBundle);
	if (fTrashUsed)
		XPosixBundleSwap::SyncTrashFor(fLastAside);
	if (!acted)
		return true;
	const VError cleared = fLock.Write({});
	if (cleared != VE_OK)
	{
		ThrowErrorWithPath(cleared, fPath);
		return false;
	}
	LogInfo("Interrupted update recovered");
	return true;
}

bool VBundleSwapJournal::_Act(const VBundleSwapState& state, const Entries& entries)
{
	// A place that holds another bundle than the record's two: the record no longer applies. A record made
	// before the copy was complete does not know the copy, and the old bundle beside the place tells that
	// the swap was made since.
	if (IsTaken(fBundle) && !entries.IsOld(fBundle) && !entries.IsNew(fBundle) &&
		!(entries.fNew == 0 && entries.OldBeside().IsValid()))
		return _Drop(entries);
	switch (state.fRecovery)
	{
		case eRecoverRevert:
			return RestoreOutdated(fBundle, entries.fAside, entries.fFailed, entries.fOld, entries.fNew);
		case eRecoverForward:
			return _Forward(entries);
		case eRecoverUndo:
			break;
	}
	return _Undo(entries);
}

bool VBundleSwapJournal::_Undo(const Entries& entries)
{
	const VString place = fBundle.GetPath(FPS_POSIX);
	if (entries.IsOld(fBundle))
		return _DeleteCopies(entries);
	const VFilePath old = entries.OldBeside();
	if (!old.IsValid())
	{
		if (entries.IsNew(fBundle))
		{
			// Nothing to put back, and nothing lost by keeping the copy: the update runs again over it.
			LogInfo("The outdated application is no longer where the interrupted update put it; the up-to-date copy "
				"stays at %S", &place);
			return _DeleteCopies(entries);
		}
		LogError("The outdated application is not where the interrupted update put it");
		// A copy of the up-to-date bundle may be all that is left of the application: it is kept.
		return _RestoreNewestOld();
	}
	const VString from = old.GetPath(FPS_POSIX);
	LogInfo("Putting the outdated application back from %S to %S", &from, &place);
	// The copy, which was never seen to start, is deleted next; it goes under a hidden name when it would
	// otherwise take the old bundle's: the staging name it came from when that is free, else this process's.
	VFilePath hidden = MakeStagingPath(fBundle);
	if (!SamePath(old, entries.fStaging) && entries.fStaging.IsValid() && !IsTaken(entries.fStaging))
		hidden = entries.fStaging;
	VFilePath copy;
	const VError put = PutOldBack(fBundle, old, hidden, copy);
	FlushFolderOf(fBundle);
	if (put != VE_OK || !entries.IsOld(fBundle))
	{
		ThrowErrorWithPaths(put != VE_OK ? put : MakePosixError(ENOENT), old, fBundle);
		LogError("The outdated application could not be put back at %S", &place);
		return false;
	}
	LogInfo("The outdated application is back at %S", &place);
	// A run killed while it moved the old bundle to the Trash (its record of the start since lost) left the
	// Trash's record alone there.
	fTrashUsed = true;
	XPosixBundleSwap::RemoveOrphanTrashInfo(old);
	// What stood at the place is the copy: by its inode, or, for a record made while it was being copied,
	// because the old bundle stood beside.
	if (copy.IsValid() && IsTaken(copy) && (entries.fNew == 0 || entries.IsNew(copy)))
		_DeleteCopy(copy, "unfinished copy");
	return _DeleteCopies(entries);
}

bool VBundleSwapJournal::_Forward(const Entries& entries)
{
	// The up-to-date bundle started, then left the place, or the old one came back: nothing is trashed.
	if (!entries.IsNew(fBundle))
		return _Undo(entries);
	const VFilePath old = entries.OldBeside();
	if (SamePath(old, entries.fStaging))
	{
		// Still hidden at the staging name: it goes under its temporary name when that is free.
		if (!IsTaken(entries.fAside) && XPosixBundleSwap::RenameExclusive(old, entries.fAside) == VE_OK)
			return _TrashOld(entries.fAside);
		return _TrashOld(old);
	}
	if (old.IsValid())
		return _TrashOld(old);
	// Already gone; a Trash entry begun for it may remain.
	fTrashUsed = true;
	XPosixBundleSwap::RemoveOrphanTrashInfo(entries.fAside);
	return true;
}

bool VBundleSwapJournal::_Drop(const Entries& entries)
{
	const VString place = fBundle.GetPath(FPS_POSIX);
	LogInfo("The interrupted update no longer applies: %S holds another application than the one it recorded", &place);
	// The copy the record made goes; the old bundle it recorded stays, under a name the sweep leaves alone.
	if (entries.IsOld(entries.fStaging))
	{
		VFilePath keep;
		if (_ComputeTempFolderPath(fBundle, keep, VString("old")) &&
			XPosixBundleSwap::RenameExclusive(entries.fStaging, keep) == VE_OK)
			FlushFolderOf(fBundle);
		else
			fKept = XPosixBundleSwap::GetIdentity(entries.fStaging);
	}
	_DeleteCopies(entries);
	fTrashUsed = true;
	XPosixBundleSwap::RemoveOrphanTrashInfo(entries.fAside);
	for (const VFilePath& path : {entries.fAside, entries.fStaging})
	{
		if (path.IsValid() && entries.IsOld(path))
		{
			const VString posix = path.GetPath(FPS_POSIX);
			LogInfo("The outdated application of the interrupted update is kept at %S", &posix);
		}
	}
	if (fKept.IsNone())
		_LogOldBundlesBeside();
	return true;
}

bool VBundleSwapJournal::_DeleteCopies(const Entries& entries)
{
	for (const VFilePath& path : {entries.fStaging, entries.fAside})
	{
		if (!path.IsValid() || !IsTaken(path) || entries.IsOld(path))
			continue;
		// A record made while the copy was being made knows it by its staging name alone, which bears the
		// id of the process that made it.
		if (entries.IsNew(path) || (entries.fNew == 0 && SamePath(path, entries.fStaging)))
			_DeleteCopy(path, "unfinished copy");
	}
	return true;
}

bool VBundleSwapJournal::_DeleteCopy(const VFilePath& copy, const char* what)
{
	const VString posix = copy.GetPath(FPS_POSIX);
	LogInfo("Deleting the %s %S", what, &posix);
	VString reason;
	if (DeleteQuietly(copy, reason))
		return true;
	LogError("The %s %S could not be deleted: %S", what, &posix, &reason);
	return false;
}

bool VBundleSwapJournal::_TrashOld(const VFilePath& at)
{
	const VString posix = at.GetPath(FPS_POSIX);
	LogInfo("Moving the old application %S to the Trash", &posix);
	fTrashUsed = true;
	fLastAside = at;
	// A kill between the Trash's record and its rename leaves the record alone in the Trash.
	XPosixBundleSwap::RemoveOrphanTrashInfo(at);
	// The application stands whole at its place: an old bundle that can be neither trashed nor deleted is
	// named in the log with what is left of it, and the run goes on, since keeping the record would refuse
	// every later update of a bundle that needs no recovery.
	StErrorContextInstaller held(false, true);
	if (!DiscardOldBundle(at))
		fLeftoverErrors = VRefPtr<VErrorContext>(held.GetContext());
	return true;
}


bool VBundleSwapJournal::_RestoreNewestOld()
{
	const std::vector<VFilePath> olds = FindNumberedBeside(fBundle, VString("old"));
	if (olds.empty())
		return false;
	const VString place = fBundle.GetPath(FPS_POSIX);
	const VString newest = olds.front().GetPath(FPS_POSIX);
	LogInfo("Nothing stands at %S: the newest outdated application beside it, %S, is put back", &place, &newest);
	const VError renamed = XPosixBundleSwap::RenameExclusive(olds.front(), fBundle);
	if (renamed != VE_OK)
	{
		ThrowErrorWithPaths(renamed, olds.front(), fBundle);
		LogError("The outdated application %S could not be put back at %S", &newest, &place);
		return false;
	}
	FlushFolderOf(fBundle);
	if (!XPosixBundleSwap::IsPlainFolder(fBundle))
		return false;
	LogInfo("The outdated application is back at %S", &place);
	return true;
}

void VBundleSwapJournal::_LogOldBundlesBeside()
{
	for (const VFilePath& old : FindNumberedBeside(fBundle, VString("old")))
	{
		const VString posix = old.GetPath(FPS_POSIX);
		LogInfo("An outdated application is left beside the application's place at %S", &posix);
	}
}

bool VBundleSwapJournal::_RemoveLeftovers()
{
	VFilePath folder;
	if (!fBundle.GetParent(folder))
		return false;
	// Appended piece by piece: GCC 12 warns (-Wrestrict) on a literal + string + literal chain here.
	std::string prefix(".");
	prefix += NameText(fBundle);
	prefix += ".velk-new-";
	const int32 self = XPosixBundleSwap::GetCurrentProcessID();
	const bool placeTaken = IsTaken(fBundle);
	bool removed = false;
	for (const std::string& name : XPosixBundleSwap::ListNames(folder))
	{
		if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size() ||
			name.find_first_not_of("0123456789", prefix.size()) != std::string::npos)
			continue;
		const int32 pid = int32(std::atoi(name.c_str() + prefix.size()));
		const VFilePath leftover = _Sibling(name);
		// Only this user's own plain folders, never the up-to-date bundle or what holds it, never what a
		// running updater is making. This run has made no staging folder yet: one bearing its id is older.
		if (!XPosixBundleSwap::IsOwnPlainFolder(leftover) || XPosixBundleSwap::GetIdentity(leftover) == fKept ||
			(fUpToDate.IsValid() && (XPosixBundlePath::IsSameOrInside(fUpToDate, leftover) ||
										XPosixBundlePath::IsSameOrInside(leftover, fUpToDate))) ||
			(pid != self && XPosixBundleSwap::IsRunningUpdaterOf(pid, leftover)))
			continue;
		const VString posix = leftover.GetPath(FPS_POSIX);
		if (!placeTaken)
		{
			// It may be the only copy of the application left: nothing is guessed.
			LogError("Keeping %S, left by process %d: nothing stands at the application's place", &posix, int(pid));
			continue;
		}
		VString reason;
		if (DeleteQuietly(leftover, reason))
			LogInfo("Deleted %S, left by process %d", &posix, int(pid));
		else
			LogError("%S, left by process %d, could not be deleted: %S", &posix, int(pid), &reason);
		removed = true;
	}
	return removed;
}

}  // namespace velk
