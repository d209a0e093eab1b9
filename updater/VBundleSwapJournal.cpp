#include "updater/VBundleSwapJournal.h"

#include <cstdlib>
#include <string>

#include "files/VFolder.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VTask.h"
#include "updater/VBundleSwap.h"
#include "updater/VUpdaterErrors.h"
#include "updater/VUpdaterLog.h"
#include "updater/mac/XPosixBundleSwap.h"

namespace velk {

namespace {

constexpr const char* kStepNames[] = {"copying", "swapping", "installed", "reverting"};

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

bool VBundleSwapJournal::Record(EStep step, const VFilePath& staging, const VFilePath& aside, uint64 oldInode,
	uint64 upToDateInode, const VFilePath& failed)
{
	if (!fLock.IsLocked())
		return true;
	const int32 pid = XPosixBundleSwap::GetCurrentProcessID();
	std::map<std::string, std::string> record{
		{"pid", std::to_string(pid)},
		{"start", std::to_string(XPosixBundleSwap::GetProcessStartTime(pid))},
		{"boot", XPosixBundleSwap::GetBootID()},
		{"step", kStepNames[step]},
		{"bundle", NameText(fBundle)},
		{"staging", NameText(staging)},
		{"aside", NameText(aside)},
		{"old", std::to_string(oldInode)},
		{"new", std::to_string(upToDateInode)},
	};
	if (failed.IsValid())
		record["failed"] = NameText(failed);
	fLastAside = aside;
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

bool VBundleSwapJournal::Recover()
{
	if (!fLock.IsLocked())
		return true;
	bool torn = false;
	std::map<std::string, std::string> record = fLock.Read(&torn);
	if (torn)
	{
		const VString posix = fPath.GetPath(FPS_POSIX);
		LogInfo("The update journal %S holds a record that is not whole; the one before it is used", &posix);
	}
	fTrashUsed = false;
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
			const VFilePath staging = _Sibling(RecordedName(record["staging"]));
			const VFilePath aside = _Sibling(RecordedName(record["aside"]));
			const uint64 old = RecordedInode(record["old"]);
			const uint64 upToDate = RecordedInode(record["new"]);
			fLastAside = aside;
			bool recovered = false;
			if (record["step"] == kStepNames[eStepReverting])
				recovered = RestoreOutdated(fBundle, aside, _Sibling(RecordedName(record["failed"])), old, upToDate);
			else
				recovered = _RecoverSwap(staging, aside, old, upToDate);
			if (!recovered)
			{
				LogError("The interrupted update could not be recovered");
				ThrowErrorWithPath(VE_UPDATER_RECOVERY_FAILED, fBundle);
				return false;
			}
			acted = true;
		}
	}
	const bool removed = _RemoveLeftovers();
	if (!acted && !removed)
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

bool VBundleSwapJournal::_DeleteCopy(const VFilePath& staging)
{
	if (!IsTaken(staging))
		return true;
	const VString posix = staging.GetPath(FPS_POSIX);
	LogInfo("Deleting the unfinished copy %S", &posix);
	return DeleteStaging(staging);
}

bool VBundleSwapJournal::_RecoverSwap(const VFilePath& staging, const VFilePath& aside, uint64 old, uint64 upToDate)
{
	// Entries are known by their inodes in the bundle's folder, on its file system as mounted now.
	const uint64 atPlace = InodeAt(fBundle);
	const uint64 atStaging = InodeAt(staging);
	const uint64 atAside = InodeAt(aside);
	const bool oldAtStaging = old != 0 && atStaging == old;
	const bool oldAside = old != 0 && atAside == old;

	if (old != 0 && atPlace == old)
	{
		// Nothing was swapped: only the staging copy is left to go.
		return _DeleteCopy(staging);
	}
	if (!IsTaken(fBundle))
	{
		// Cut between moving the old bundle aside and putting the new one in: the old one goes back.
		if (!oldAside)
		{
			LogError("The outdated application is not where the interrupted update put it");
			if (!oldAtStaging && upToDate != 0 && atStaging == upToDate)
				_DeleteCopy(staging);
			return false;
		}
		const VString from = aside.GetPath(FPS_POSIX);
		const VString to = fBundle.GetPath(FPS_POSIX);
		LogInfo("Putting the outdated application back from %S to %S", &from, &to);
		const VError renamed = XPosixBundleSwap::RenameExclusive(aside, fBundle);
		if (renamed != VE_OK)
		{
			ThrowErrorWithPaths(renamed, aside, fBundle);
			return false;
		}
		return _DeleteCopy(staging);
	}
	// The swap was done when the new bundle is at the place; a record from before the copy was complete
	// does not know it, and the old bundle beside it tells instead.
	const bool swapped = upToDate != 0 ? atPlace == upToDate : atPlace != 0 && (oldAtStaging || oldAside);
	if (swapped)
	{
		// The old bundle goes to the Trash from wherever it was left, under its temporary name when it was
		// still hidden at the staging name.
		if (oldAtStaging)
		{
			if (!IsTaken(aside) && XPosixBundleSwap::RenameExclusive(staging, aside) == VE_OK)
				return _TrashOld(aside);
			return _TrashOld(staging);
		}
		if (!_DeleteCopy(staging))
			return false;
		if (oldAside)
			return _TrashOld(aside);
		// Already gone; a Trash entry begun for it may remain.
		fTrashUsed = true;
		XPosixBundleSwap::RemoveOrphanTrashInfo(aside);
		return true;
	}
	LogError("The application's place holds neither bundle of the interrupted update");
	// The staging copy is this updater's own, whatever else happened.
	if (!oldAtStaging && upToDate != 0 && atStaging == upToDate)
		_DeleteCopy(staging);
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

bool VBundleSwapJournal::_RemoveLeftovers()
{
	VFilePath folder;
	if (!fBundle.GetParent(folder))
		return false;
	const std::string prefix = "." + NameText(fBundle) + ".velk-new-";
	const int32 self = XPosixBundleSwap::GetCurrentProcessID();
	const bool placeTaken = IsTaken(fBundle);
	bool removed = false;
	for (const std::string& name : XPosixBundleSwap::ListNames(folder))
	{
		if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size() ||
			name.find_first_not_of("0123456789", prefix.size()) != std::string::npos)
			continue;
		// This run has made no staging folder yet: one bearing its id is an earlier boot's.
		const int32 pid = int32(std::atoi(name.c_str() + prefix.size()));
		if (pid != self && XPosixBundleSwap::IsRunningUpdater(pid))
			continue;
		const VFilePath leftover = _Sibling(name);
		const VString posix = leftover.GetPath(FPS_POSIX);
		if (!placeTaken)
		{
			// It may be the only copy of the application left: nothing is guessed.
			LogError("Keeping %S, left by process %d: nothing stands at the application's place", &posix, int(pid));
			continue;
		}
		LogInfo("Deleting %S, left by process %d", &posix, int(pid));
		DeleteStaging(leftover);
		removed = true;
	}
	return removed;
}

}  // namespace velk
