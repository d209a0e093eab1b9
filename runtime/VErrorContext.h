// One scope's errors, oldest first, with the scope's flags: whether its errors pass on to the
// enclosing scope, whether they are kept from the debug manager, and the codes it expects. Short of
// memory its calls answer false and mark the context failed for memory; none throws.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VError.h"
#include "runtime/VErrorBase.h"

namespace velk {

class VValueBag;

class VELK_API VErrorContext : public VObject, public IRefCountable
{
public:
	// No errors, no filtered codes, not silent, keeping errors unless told otherwise. A context keeps
	// room for one more error than it holds whenever memory allows, so that the error reporting a
	// shortage finds a place even when nothing more can be allocated.
	explicit VErrorContext(bool keepingErrors = true, bool silent = false);
	// The same errors (shared) and out-of-memory flag; the copy is not silent, keeps errors and
	// filters nothing. When memory is too short for the list the copy holds no errors and is marked
	// failed for memory.
	VErrorContext(const VErrorContext& other);
	~VErrorContext() override;

	VErrorContext& operator=(const VErrorContext&) = delete;

	// Appends error, retained, and returns true; a 'velk' 100 error marks the context out of memory.
	// A null error is ignored (false). When the list cannot grow the error is not stored, the context
	// is marked out of memory and the result is false.
	bool PushError(VErrorBase* error);
	// Appends other's errors, retained, and takes its out-of-memory flag. When the list cannot grow
	// none is appended, the context is marked out of memory and the result is false.
	bool PushErrors(const VErrorContext* other);
	// Releases every error; the out-of-memory flag is cleared.
	void Flush();

	// The oldest and the newest error, null when empty; not retained.
	VErrorBase* GetFirst() const;
	VErrorBase* GetLast() const;
	// The newest error's code, 0 when empty.
	VError GetLastError() const;
	// The first error with exactly code, null when none.
	VErrorBase* Find(VError code) const;
	// Whether some error's code is in codes, a list ended by 0 (false for an empty list).
	bool FindAny(const VError* codes) const;

	bool IsEmpty() const { return fErrors.empty(); }
	size_t GetErrorCount() const { return fErrors.size(); }
	const std::vector<VRefPtr<VErrorBase>>& GetErrors() const { return fErrors; }
	// True when the context holds errors.
	bool DebugDisplay() const { return !fErrors.empty(); }

	// Codes this scope expects: raising one makes the scope silent and drops its errors at its end.
	// False, the code not added, when memory is short (velk 100 pushed).
	bool AddFilteredCode(VError code);
	bool IsErrorFiltered(VError code) const;
	bool HasFilteredCodes() const { return !fFilteredCodes.empty(); }

	bool FailedForMemory() const { return fFailedForMemory; }
	void SetFailedForMemory(bool failed) { fFailedForMemory = failed; }
	bool IsSilent() const { return fSilent; }
	void SetSilent(bool silent) { fSilent = silent; }
	bool IsKeepingErrors() const { return fKeepingErrors; }
	void SetKeepingErrors(bool keeping) { fKeepingErrors = keeping; }

	// One "error" element per error, oldest first (VErrorBase::SaveToBag). Answers 0, or velk 100 when memory
	// is short.
	VError SaveToBag(VValueBag& bag) const;
	// Appends an error loaded from each "error" element, in order; the out-of-memory flag is left alone.
	// Answers 0, or velk 100 when an error cannot be made (those before it stay).
	VError LoadFromBag(const VValueBag& bag);

	// Undefined when empty; else an array of the errors' JSON objects (VErrorBase::CreateJSONObject),
	// oldest first. False, out undefined, when memory is short (velk 100 pushed).
	bool SaveToJSONArray(VJSONValue& out) const;

	// Hands the errors, oldest first, to the process logger inside a silent scope that drops what
	// logging raises; nothing while the process has no logger.
	void SendErrorsToLogger() const;

	// Inserts errors, in their order, before the existing ones; on lack of memory as PushErrors.
	bool _InsertFront(const std::vector<VRefPtr<VErrorBase>>& errors);
	// Forgets the filtered codes, for a context that becomes a task's base level.
	void _ClearFilteredCodes() { fFilteredCodes.clear(); }

private:
	// Grows the list ahead of need when it is full; a failure is left to the push that meets it.
	void _KeepRoomForOneMore();

	std::vector<VRefPtr<VErrorBase>> fErrors;
	std::vector<VError> fFilteredCodes;
	bool fFailedForMemory = false;
	bool fSilent = false;
	bool fKeepingErrors = true;
};

}  // namespace velk
