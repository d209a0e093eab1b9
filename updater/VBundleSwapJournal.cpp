#include "updater/VBundleSwapJournal.h"

#include <cstdlib>
#include <string>

#include "files/VFolder.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/StErrorContextInstaller.h"
#include "updater/VBundleSwap.h"
#include "updater/VUpdaterErrors.h"
#include "updater/VUpdaterLog.h"
#include "updater/mac/XPosixBundleSwap.h"

namespace velk {

namespace {

constexpr const char* kStepNames[] = {"copying", "swapping", "installed"};

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

std::string Text(const VFilePath& path)
{
	return path.IsValid() ? to_string(path.GetPath(FPS_POSIX)) : std::string();
}

VFilePath FolderPath(const std::string& text)
{
	if (text.empty())
		return VFilePath();
	VString posix(text.c_str());
	if (posix.GetUniChar(posix.GetLength()) != u'/')
		posix.AppendUniChar(u'/');
	return VFilePath(posix, FPS_POSIX);
}

std::string IdentityText(const XPosixBundleSwap::Identity& identity)
{
	return std::to_string(identity.fDevice) + ":" + std::to_string(identity.fInode);
}

XPosixBundleSwap::Identity IdentityFrom(const std::string& text)
{
	XPosixBundleSwap::Identity identity;
	const size_t colon = text.find(':');
	if (colon != std::string::npos)
	{
		identity.fDevice = std::strtoull(text.c_str(), nullptr, 10);
		identity.fInode = std::strtoull(text.c_str() + colon + 1, nullptr, 10);
	}
	return identity;
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

bool VBundleSwapJournal::Record(EStep step, const VFilePath& staging, const VFilePath& aside,
	const XPosixBundleSwap::Identity& old, const XPosixBundleSwap::Identity& upToDate)
{
	if (!fLock.IsLocked())
		return true;
	const int32 pid = XPosixBundleSwap::GetCurrentProcessID();
	const std::map<std::string, std::string> record{
		{"pid", std::to_string(pid)},
		{"start", std::to_string(XPosixBundleSwap::GetProcessStartTime(pid))},
		{"step", kStepNames[step]},
		{"bundle", Text(fBundle)},
		{"staging", Text(staging)},
		{"aside", Text(aside)},
		{"old", IdentityText(old)},
		{"new", IdentityText(upToDate)},
	};
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
	if (fLock.IsLocked())
		fLock.Remove();
}

bool VBundleSwapJournal::Recover()
{
	if (!fLock.IsLocked())
		return true;
	std::map<std::string, std::string> record = fLock.Read();
	if (record.empty())
		return true;
	const int32 pid = int32(std::atoi(record["pid"].c_str()));
	const uint64 start = std::strtoull(record["start"].c_str(), nullptr, 10);
	if (XPosixBundleSwap::IsProcessRunning(pid, start))
	{
		const VString posix = fBundle.GetPath(FPS_POSIX);
		LogError("Another update of %S is under way", &posix);
		ThrowErrorWithPath(VE_UPDATER_UPDATE_UNDER_WAY, fBundle);
		return false;
	}
	// Only a record of this very bundle is acted on.
	if (record["bundle"] != Text(fBundle))
		return true;

	const VString step(record["step"].c_str());
	LogInfo("Recovering the update interrupted in process %d (%S)", int(pid), &step);
	const VFilePath staging = FolderPath(record["staging"]);
	const VFilePath aside = FolderPath(record["aside"]);
	bool recovered = false;
	if (record["step"] == kStepNames[eStepCopying])
		recovered = _RecoverCopying(staging);
	else
		recovered = _RecoverSwap(staging, aside, IdentityFrom(record["old"]), IdentityFrom(record["new"]));
	if (!recovered)
	{
		LogError("The interrupted update could not be recovered");
		ThrowErrorWithPath(VE_UPDATER_RECOVERY_FAILED, fBundle);
		return false;
	}
	// Done: a later kill finds no record to act on again.
	const VError cleared = fLock.Write({});
	if (cleared != VE_OK)
	{
		ThrowErrorWithPath(cleared, fPath);
		return false;
	}
	LogInfo("Interrupted update recovered");
	return true;
}

bool VBundleSwapJournal::_RecoverCopying(const VFilePath& staging)
{
	if (!staging.IsValid() || !VFolder(staging).Exists())
		return true;
	const VString posix = staging.GetPath(FPS_POSIX);
	LogInfo("Deleting the unfinished copy %S", &posix);
	return DeleteStaging(staging);
}

bool VBundleSwapJournal::_RecoverSwap(const VFilePath& staging, const VFilePath& aside,
	const XPosixBundleSwap::Identity& old, const XPosixBundleSwap::Identity& upToDate)
{
	const XPosixBundleSwap::Identity atPlace = XPosixBundleSwap::GetIdentity(fBundle);
	const XPosixBundleSwap::Identity atStaging = XPosixBundleSwap::GetIdentity(staging);
	const XPosixBundleSwap::Identity atAside = XPosixBundleSwap::GetIdentity(aside);

	if (!old.IsNone() && atPlace == old)
	{
		// Nothing was swapped: only the staging copy is left to go.
		return atStaging.IsNone() || atStaging != upToDate || _RecoverCopying(staging);
	}
	if (atPlace.IsNone())
	{
		// Cut between moving the old bundle aside and putting the new one in: the old one goes back.
		if (old.IsNone() || atAside != old)
		{
			LogError("The outdated application is not where the interrupted update put it");
			if (!atStaging.IsNone() && atStaging == upToDate)
				_RecoverCopying(staging);
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
		return atStaging.IsNone() || atStaging != upToDate || _RecoverCopying(staging);
	}
	if (!upToDate.IsNone() && atPlace == upToDate)
	{
		// The swap was done: the old bundle goes to the Trash from wherever it was left, under its temporary
		// name when it was still hidden at the staging name.
		if (!old.IsNone() && atStaging == old)
		{
			if (atAside.IsNone() && XPosixBundleSwap::RenameExclusive(staging, aside) == VE_OK)
				return _TrashOld(aside);
			return _TrashOld(staging);
		}
		if (!old.IsNone() && atAside == old)
			return _TrashOld(aside);
		// Already gone; a Trash entry begun for it may remain.
		XPosixBundleSwap::RemoveOrphanTrashInfo(aside);
		return true;
	}
	LogError("The application's place holds neither bundle of the interrupted update");
	// The staging copy is this updater's own, whatever else happened.
	if (!atStaging.IsNone() && atStaging == upToDate)
		_RecoverCopying(staging);
	return false;
}

bool VBundleSwapJournal::_TrashOld(const VFilePath& at)
{
	const VString posix = at.GetPath(FPS_POSIX);
	LogInfo("Moving the old application %S to the Trash", &posix);
	// A kill between the Trash's record and its rename leaves the record alone in the Trash.
	XPosixBundleSwap::RemoveOrphanTrashInfo(at);
	const VFolder folder(at);
	{
		StErrorContextInstaller quiet(false, true);
		if (folder.MoveToTrash() == VE_OK)
			return true;
	}
	LogInfo("Deleting the old application %S", &posix);
	return DeleteStaging(at);
}

}  // namespace velk
