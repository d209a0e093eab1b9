// Raising an error object that the caller fills first: the scope holds a new error of a chosen class and
// pushes it, under the operation's generic code, when it ends.
#pragma once

#include "kernel/VExport.h"

#include <new>
#include <utility>

#include "runtime/VErrorBase.h"

namespace velk {

// Takes over the caller's reference to error. With code 0, or when the calling task's contexts filter
// error's own code, pushes error alone; else pushes a new error of code first, so that error lies on top
// and the generic code just below it. A null error pushes code alone.
VELK_API void _PushRetainedError(VErrorBase* error, VError code);

template <class ERROR_CLASS = VErrorBase>
class StThrowError
{
public:
	// The error is made with the arguments given (its own code first); code is the operation's.
	template <class... Args>
	explicit StThrowError(VError code, Args&&... args)
	: fError(new (std::nothrow) ERROR_CLASS(std::forward<Args>(args)...)), fCode(code)
	{
	}
	~StThrowError() { _PushRetainedError(fError, fCode); }

	StThrowError(const StThrowError&) = delete;
	StThrowError& operator=(const StThrowError&) = delete;

	// Null only when memory was short; the scope then pushes the code alone.
	ERROR_CLASS* Get() const { return fError; }
	ERROR_CLASS* operator->() const { return fError; }

private:
	ERROR_CLASS* fError;
	VError fCode;
};

}  // namespace velk
