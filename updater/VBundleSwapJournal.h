// One updater at a time per bundle, and a way back from a run that was killed or cut by a power loss: a
// hidden lock file beside the bundle, held for the whole update, records how far the swap went (this
// process and its boot, the names of the staging copy and of where the old bundle went, and the inodes of
// both bundles, which name them in their folder across reboots). A run that finds a record left by a
// process that no longer runs finishes or undoes that swap before it touches the bundles.
#pragma once

#include <string>

#include "files/VFilePath.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VErrorContext.h"
#include "updater/mac/XPosixBundleSwap.h"

namespace velk {

class VBundleSwapJournal
{
public:
	// How far a swap went.
	enum EStep
	{
		eStepCopying,    // the up-to-date bundle is being copied into the staging folder
		eStepSwapping,   // the staging copy is complete; the bundles are being swapped
		eStepInstalled,  // the up-to-date bundle is at the bundle's place, the old one aside
		eStepReverting,  // the up-to-date bundle could not start: the old one is being put back
	};

	// The journal of the bundle at bundle (a folder path): ".<name>.velk-update" beside it.
	explicit VBundleSwapJournal(const VFilePath& bundle);
	// Unlocks, leaving the file: only Finish removes it.
	~VBundleSwapJournal() = default;
	VBundleSwapJournal(const VBundleSwapJournal&) = delete;
	VBundleSwapJournal& operator=(const VBundleSwapJournal&) = delete;

	// Takes the bundle's lock, waiting up to waitMs for another updater to let it go. Another updater that
	// held it at any moment pushes 'UPRy' 15 with "path" and answers false, even once it let go: its update
	// of the same bundle was under way. A lock file that cannot be made (no folder, no right to write) is
	// logged and answers true: such a bundle cannot be swapped, and the swap reports why. A lock file made
	// here is flushed with its folder.
	bool Lock(int32 waitMs);
	bool IsLocked() const { return fLock.IsLocked(); }

	// Finishes or undoes the swap recorded by a process that no longer runs (or ran in an earlier boot),
	// logging each step: a staging copy is deleted, an old bundle aside while nothing is at the place goes
	// back, a swap that was done has its old bundle trashed, a Trash entry that was begun for it is removed,
	// and a swap back is finished. Whatever the record says, staging folders of this bundle left by
	// processes that are no running updater are then deleted, and logged (kept while nothing stands at the
	// place). What was changed is flushed to the disk, the Trash's folders too, before the record is
	// cleared. True, nothing done, without a record; false, errors pushed, when a step failed or the
	// record's process still runs. A record that is not whole is logged; the one before it is used.
	bool Recover();

	// Records how far the swap went. The inodes (XPosixBundleSwap::GetInodeInFolder, 0 for none) name the
	// bundles whatever their names; failed is where a swap back keeps the up-to-date bundle.
	bool Record(EStep step, const VFilePath& staging, const VFilePath& aside, uint64 oldInode, uint64 upToDateInode,
		const VFilePath& failed = VFilePath());

	// Flushes the bundle's folder (and the Trash the old bundle went to, once a swap was made), then removes
	// the file and unlocks: what a run that completed leaves behind is nothing. An old bundle that recovery
	// could neither trash nor delete was logged with what is left of it and the record cleared, so that
	// the update went on; the errors of its removal, held until now, are pushed here, so that the run fails
	// as for any old bundle that could not be removed.
	void Finish();

	// The staging folder of a swap by this process, hidden beside the bundle.
	static VFilePath MakeStagingPath(const VFilePath& bundle);

private:
	bool _RecoverSwap(const VFilePath& staging, const VFilePath& aside, uint64 old, uint64 upToDate);
	bool _TrashOld(const VFilePath& at);
	bool _DeleteCopy(const VFilePath& staging);
	// Deletes the staging folders of this bundle that no running updater owns; true when one was found.
	bool _RemoveLeftovers();
	VFilePath _Sibling(const std::string& name) const;

	VFilePath fBundle;
	VFilePath fPath;
	XPosixSwapLockFile fLock;
	VFilePath fLastAside;  // where the last record put the old bundle
	VRefPtr<VErrorContext> fLeftoverErrors;  // why recovery left an old bundle behind
	bool fTrashUsed = false;
};

}  // namespace velk
