// One updater at a time per bundle, and a way back from a run that was killed: a hidden lock file beside the
// bundle, held for the whole update, records how far the swap went (this process, the staging copy, where
// the old bundle went and what both bundles are on disk). A run that finds a record left by a process that
// no longer runs finishes or undoes that swap before it touches the bundles.
#pragma once

#include "files/VFilePath.h"
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
	// logged and answers true: such a bundle cannot be swapped, and the swap reports why.
	bool Lock(int32 waitMs);
	bool IsLocked() const { return fLock.IsLocked(); }

	// Finishes or undoes the swap recorded by a process that no longer runs, logging each step: a staging
	// copy is deleted, an old bundle aside while nothing is at the place goes back, a swap that was done
	// has its old bundle trashed, and a Trash entry that was begun for it is removed. True, nothing done,
	// without a record; false, errors pushed, when a step failed or the record's process still runs.
	bool Recover();

	// Records how far the swap went. The identities name the bundles whatever their names.
	bool Record(EStep step, const VFilePath& staging, const VFilePath& aside, const XPosixBundleSwap::Identity& old,
		const XPosixBundleSwap::Identity& upToDate);

	// Removes the file, then unlocks: what a run that completed leaves behind is nothing.
	void Finish();

	// The staging folder of a swap by this process, hidden beside the bundle.
	static VFilePath MakeStagingPath(const VFilePath& bundle);

private:
	bool _RecoverCopying(const VFilePath& staging);
	bool _RecoverSwap(const VFilePath& staging, const VFilePath& aside, const XPosixBundleSwap::Identity& old,
		const XPosixBundleSwap::Identity& upToDate);
	bool _TrashOld(const VFilePath& at);

	VFilePath fBundle;
	VFilePath fPath;
	XPosixSwapLockFile fLock;
};

}  // namespace velk
