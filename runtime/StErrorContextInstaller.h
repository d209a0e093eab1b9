// Opens an error scope on the calling task for its lifetime: errors raised meanwhile go to the
// scope's own context, and at its end they pass to the enclosing scope or are dropped.
#pragma once

#include "kernel/VExport.h"

#include <concepts>
#include <initializer_list>

#include "runtime/VError.h"

namespace velk {

class VErrorBase;
class VErrorContext;
class VErrorTaskContext;

class VELK_API StErrorContextInstaller
{
public:
	// keepingErrors: the scope's errors pass to the enclosing scope at its end (else dropped).
	// silent: they are kept from the debug manager, and logged when handed to a scope that is not
	// silent. On a thread without a task the scope is a free-standing context that nothing reaches.
	// Short of memory no scope opens: GetContext is null, velk 100 and later errors go to the enclosing
	// scope, and the destructor does nothing.
	explicit StErrorContextInstaller(bool keepingErrors = true, bool silent = false);

	// A scope (keeping errors, not silent) that expects the listed codes, a list ended by 0:
	// StErrorContextInstaller(VE_STREAM_EOF, 0). Raising one of them in this scope, or in an inner
	// scope that is not silent, makes the innermost scope silent and drops its errors at its end.
	// A code that memory is too short to add is not filtered (velk 100 recorded in the scope).
	template <class... More>
		requires(std::convertible_to<More, VError> && ...)
	StErrorContextInstaller(VError code1, VError code2, More... more) : StErrorContextInstaller(true, false)
	{
		_AddFilteredCodes({code1, code2, VError(more)...});
	}

	// A lone code without the ending 0 is a mistake, not a keep flag.
	StErrorContextInstaller(VError) = delete;

	~StErrorContextInstaller();

	StErrorContextInstaller(const StErrorContextInstaller&) = delete;
	StErrorContextInstaller& operator=(const StErrorContextInstaller&) = delete;

	// The scope's context; null when it could not be made.
	VErrorContext* GetContext() const { return fContext; }

	// The scope's newest error code (0 when none), its newest error and its first error of code.
	VError GetLastError() const;
	VErrorBase* GetLast() const;
	VErrorBase* Find(VError code) const;

	bool IsSilent() const { return fSilent; }

private:
	void _AddFilteredCodes(std::initializer_list<VError> codes);

	VErrorTaskContext* fTaskContext = nullptr;
	VErrorContext* fContext = nullptr;  // one reference held by the installer
	bool fSilent = false;
};

}  // namespace velk
