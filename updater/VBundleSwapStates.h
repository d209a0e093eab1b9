// The states a bundle swap records in its journal, in one table: what stands on disk in each, what a later
// run does when it finds the state left by a process that no longer runs, and which bundle may go to the
// Trash from it. The rule the table keeps: the outdated bundle is trashed, or deleted, only once the
// up-to-date one has started at its place; until then, a run that is cut short is undone.
#pragma once

namespace velk {

// How far a swap went, in the order a run passes the states.
enum EBundleSwapStep
{
	eSwapCopying,    // the up-to-date bundle is being copied into the staging folder
	eSwapSwapping,   // the staging copy is complete; the bundles are being swapped
	eSwapInstalled,  // the up-to-date bundle is at the place, the old one aside, no start reported yet
	eSwapStarted,    // the opener reported that the up-to-date bundle started at the place
	eSwapReverting,  // the up-to-date bundle could not start: the old one is being put back
	eSwapStepCount
};

// What a later run does from a state.
enum EBundleSwapRecovery
{
	eRecoverUndo,     // the old bundle back at the place, the staging copy deleted wherever it stands
	eRecoverForward,  // the old bundle to the Trash, from wherever it was left
	eRecoverRevert,   // the swap back finished: the old bundle at the place, the new one kept as failed
};

// Which bundle a state lets go to the Trash.
enum EBundleSwapTrashable
{
	eTrashNothing,
	eTrashOld,
};

struct VBundleSwapState
{
	EBundleSwapStep fStep;
	const char* fName;    // as the journal records it
	const char* fOnDisk;  // what stands where, for the reader of this table
	EBundleSwapRecovery fRecovery;
	EBundleSwapTrashable fTrashable;
};

// Entries are found by inode in the bundle's folder: "staging" is the hidden copy beside the place, "aside"
// the old bundle's temporary name, "failed" the name a swap back gives the up-to-date copy.
inline constexpr VBundleSwapState kBundleSwapStates[eSwapStepCount] = {
	{eSwapCopying, "copying",
		"the old bundle at the place; the staging folder being filled",
		eRecoverUndo, eTrashNothing},
	{eSwapSwapping, "swapping",
		"the staging copy whole; the old bundle at the place, or exchanged with the copy (the old one at the "
		"staging name), or, without exchange, aside with nothing or the copy at the place",
		eRecoverUndo, eTrashNothing},
	{eSwapInstalled, "installed",
		"the copy at the place, the old bundle aside or still at the staging name; the copy has not been seen "
		"to start, so it is not trusted yet",
		eRecoverUndo, eTrashNothing},
	{eSwapStarted, "started",
		"the copy at the place and seen to start; the old bundle aside, at the staging name, partly deleted, "
		"or already in the Trash",
		eRecoverForward, eTrashOld},
	{eSwapReverting, "reverting",
		"the copy could not start: the two exchanged back or not yet, or, without exchange, the copy at its "
		"failed name and nothing at the place",
		eRecoverRevert, eTrashNothing},
};

static_assert(kBundleSwapStates[eSwapCopying].fStep == eSwapCopying && kBundleSwapStates[eSwapSwapping].fStep == eSwapSwapping &&
	kBundleSwapStates[eSwapInstalled].fStep == eSwapInstalled && kBundleSwapStates[eSwapStarted].fStep == eSwapStarted &&
	kBundleSwapStates[eSwapReverting].fStep == eSwapReverting, "the table is indexed by step");

// The state of a recorded name; null for a name no state bears.
const VBundleSwapState* FindBundleSwapState(const char* name);

}  // namespace velk
