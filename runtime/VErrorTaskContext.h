// A task's stack of error contexts, the bottom first: each open scope adds one, and errors pushed on
// the task go to the top one. Touched only by its task's thread, so it has no lock. Short of memory
// its calls keep the stack as it was or say what they leave; none throws.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VError.h"
#include "runtime/VErrorContext.h"

namespace velk {

class VValueBag;

class VELK_API VErrorTaskContext : public VObject, public IRefCountable
{
public:
	// An empty stack and a spare context ready for the first scope.
	VErrorTaskContext();
	~VErrorTaskContext() override;

	VErrorTaskContext(const VErrorTaskContext&) = delete;
	VErrorTaskContext& operator=(const VErrorTaskContext&) = delete;

	// Pushes a context with these flags (the spare when there is one) and returns it; the stack holds
	// the reference. Null, the stack unchanged, when memory is short.
	VErrorContext* PushNewContext(bool keepingErrors, bool silent);

	// Removes the top context. Its errors pass to the context below when it keeps them (to a new base
	// context when it was the only one), else they are dropped. An empty keeping context marked failed
	// for memory passes that mark to the context below. Short of memory for the new base
	// context, the popped one itself stays as the base, not silent, keeping errors, filtering nothing.
	void PopContext();

	// Pushes error on the top context (making a base context when the stack is empty), then looks
	// down the stack: a silent context stops the search and makes the error silent; a context that
	// filters the code makes the top context silent and not keeping errors. silent (when not null)
	// tells whether the error is kept from the debug manager. False, storing nothing, for null and
	// when memory is short (the top context, when there is one, is then marked failed for memory).
	bool PushError(VErrorBase* error, bool* silent = nullptr);
	void PushErrorsFromContext(const VErrorContext* context);
	// Pushes an error loaded from each "error" element in order, stopping after the first that fails to load.
	void PushErrorsFromBag(const VValueBag& bag);
	// Adds to bag, for every error of the current task's contexts (GetErrors order), an element "__ERROR"
	// with "message" (the description), "componentSignature" and "errCode"; nothing without a task.
	static void BuildErrorStack(VValueBag& bag);
	// Inserts errors, in order, before the bottom context's own (making one when the stack is empty).
	// False, nothing inserted, when memory is short.
	bool InsertFrontErrors(const std::vector<VRefPtr<VErrorBase>>& errors);

	// The first error of the lowest non-empty context and the last of the highest; null when none.
	VErrorBase* GetFirst() const;
	VErrorBase* GetLast() const;
	// The code of the top context's last error; 0 when the stack or the top context is empty.
	VError GetLastError() const;
	// The first error with code, from the bottom context up, oldest first.
	VErrorBase* Find(VError code) const;
	// Whether any context of the stack filters code.
	bool IsErrorFiltered(VError code) const;
	// The top context's out-of-memory flag; false for an empty stack.
	bool FailedForMemory() const;
	// Drops the top context's errors.
	void Flush();
	// Appends every error, bottom context first, to out; out's out-of-memory flag becomes the top's.
	void GetErrors(VErrorContext& out) const;

	// Empties the top context: when it keeps errors they first pass down (to a new base context when
	// it is the only one), sent to the logger when log is true. Then it is silent exactly when log is.
	// When memory is too short to pass them down, the errors stay in the top context, which is marked
	// failed for memory.
	void MergeAndFlushLastContext(bool log);

	// Takes back a popped context the caller holds: an empty one without filtered codes and without
	// other holders becomes the spare; otherwise the caller's reference is released.
	void RecycleContext(VErrorContext* context);

	// The innermost scope's context, null for an empty stack; and the number of open contexts.
	VErrorContext* GetTopContext() const;
	size_t GetContextCount() const { return fContexts.size(); }

private:
	// Passes top's errors to the context below, or to a new base context when top is the only one;
	// false, nothing changed, when memory is short.
	bool _PassDown(VErrorContext* top);

	VErrorContext* fSpare = nullptr;  // owned reference
	std::vector<VErrorContext*> fContexts;  // owned references, the top last
};

}  // namespace velk
