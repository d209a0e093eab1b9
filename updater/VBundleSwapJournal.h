// One updater at a time per bundle, and a way back from a run that was killed or cut by a power loss: a
// hidden lock file beside the bundle, held for the whole update, records how far the swap went (this
// process and its boot, the names of the staging copy and of where the old bundle went, and the inodes of
// both bundles, which name them in their folder across reboots). A run that finds a record left by a
// process that no longer runs finishes or undoes that swap before it touches the bundles.
#pragma once

#include <map>
#include <string>

#include "files/VFilePath.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VErrorContext.h"
#include "updater/VBundleSwapStates.h"
#include "updater/mac/XPosixBundleSwap.h"

namespace velk {

class VBundleSwapJournal
{
public:
	// The journal of the bundle at bundle (a folder path): ".<name>.velk-update" beside it.
	explicit VBundleSwapJournal(const VFilePath& bundle);
	// Unlocks, leaving the file: only Finish removes it.
	~VBundleSwapJournal() = default;
	VBundleSwapJournal(const VBundleSwapJournal&) = delete;
	VBundleSwapJournal& operator=(const VBundleSwapJournal&) = delete;

	// The up-to-date bundle of this run, which the sweep of leftovers never touches, whatever its name.
	void SetUpToDate(const VFilePath& upToDate) { fUpToDate = upToDate; }

	// Takes the bundle's lock, waiting up to waitMs for another updater to let it go. Another updater that
	// held it at any moment pushes 'UPRy' 15 with "path" and answers false, even once it let go: its update
	// of the same bundle was under way. A lock file that cannot be made (no folder, no right to write) is
	// logged and answers true: such a bundle cannot be swapped, and the swap reports why. A lock file made
	// here is flushed with its folder.
	bool Lock(int32 waitMs);
	bool IsLocked() const { return fLock.IsLocked(); }

	// Finishes or undoes the swap recorded by a process that no longer runs (or ran in an earlier boot), as
	// the state table (VBundleSwapStates.h) says, logging each step and checking against the folder every
	// line that says where a bundle stands. A record whose bundles the place no longer holds (the place
	// holds another one) is stale: its staging copy is deleted, an old bundle aside is kept and named, and
	// the record is dropped. Without a record, a place where nothing stands gets back the newest old bundle
	// of this updater's naming beside it. Then staging folders of this bundle that are this user's own
	// plain folders, left by processes that are no running updater, are deleted, never failing the run.
	// What was changed is flushed to the disk, the Trash's folders too, before the record is cleared. True
	// when the update may go on; false, errors pushed ('UPRy' 15 while the record's process runs, 'UPRy' 17
	// when the record can be neither finished nor dropped without losing a bundle).
	bool Recover();

	// Records how far the swap went. The inodes (XPosixBundleSwap::GetInodeInFolder, 0 for none) name the
	// bundles whatever their names; failed is where a swap back keeps the up-to-date bundle.
	bool Record(EBundleSwapStep step, const VFilePath& staging, const VFilePath& aside, uint64 oldInode,
		uint64 upToDateInode, const VFilePath& failed = VFilePath());
	// Records the swap last recorded at a further step, the old bundle now at aside.
	bool Advance(EBundleSwapStep step, const VFilePath& aside);

	// Flushes the bundle's folder (and the Trash the old bundle went to, once a swap was made), then removes
	// the file and unlocks: what a run that completed leaves behind is nothing. An old bundle that recovery
	// could neither trash nor delete was logged with what is left of it and the record cleared, so that
	// the update went on; the errors of its removal, held until now, are pushed here, so that the run fails
	// as for any old bundle that could not be removed.
	void Finish();

	// The staging folder of a swap by this process, hidden beside the bundle.
	static VFilePath MakeStagingPath(const VFilePath& bundle);

private:
	struct Entries;
	// Writes the record, the old bundle at aside; false with the error pushed when it could not be.
	bool _Write(const std::map<std::string, std::string>& record, const VFilePath& aside);
	bool _Act(const VBundleSwapState& state, const Entries& entries);
	bool _Undo(const Entries& entries);
	bool _Forward(const Entries& entries);
	bool _Drop(const Entries& entries);
	bool _TrashOld(const VFilePath& at);
	// Deletes the up-to-date copies the record made, wherever they stand among its names; never its old
	// bundle. A copy that cannot be deleted is logged, and the run goes on.
	bool _DeleteCopies(const Entries& entries);
	bool _DeleteCopy(const VFilePath& copy, const char* what);
	// Puts the newest old bundle of this updater's naming at the empty place; true when one went back.
	bool _RestoreNewestOld();
	// Names the old bundles of this updater's naming that stand beside the place.
	void _LogOldBundlesBeside();
	// Deletes the staging folders of this bundle that no running updater owns; true when one was found.
	bool _RemoveLeftovers();
	VFilePath _Sibling(const std::string& name) const;

	VFilePath fBundle;
	VFilePath fPath;
	VFilePath fUpToDate;
	XPosixSwapLockFile fLock;
	std::map<std::string, std::string> fLast;  // the record last written
	VFilePath fLastAside;  // where the last record put the old bundle
	VRefPtr<VErrorContext> fLeftoverErrors;  // why recovery left an old bundle behind
	XPosixBundleSwap::Identity fKept;  // an old bundle that recovery kept at a staging name
	bool fTrashUsed = false;
};

}  // namespace velk
