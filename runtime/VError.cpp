#include "runtime/VError.h"

#include <new>

#include "kernel/strings/VString.h"
#include "runtime/VErrorBase.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

// Set while this thread builds an error: building it makes strings, and when memory is exhausted those
// raise again, which would recurse until the stack overflows. The outer error is the one that counts.
thread_local bool sRaising = false;

// Clears the guard on every way out, so that a raise that fails part-way never silences the thread.
class StRaising
{
public:
	StRaising() { sRaising = true; }
	~StRaising() { sRaising = false; }
	StRaising(const StRaising&) = delete;
	StRaising& operator=(const StRaising&) = delete;
};

// The error recorded when memory is too short for the real one. It is made with the library's statics,
// while memory is plentiful, and shared by every thread, so it names no task. Each push retains it like
// any other error; the holder's own reference keeps the count above 0 however often it is pushed and
// released, and is dropped at exit, after which the last context holding it frees it.
class StOutOfMemoryError
{
public:
	StOutOfMemoryError() : fError(new (std::nothrow) VErrorBase(VE_MEMORY_FULL)) {}
	~StOutOfMemoryError()
	{
		VErrorBase* error = fError;
		fError = nullptr;
		if (error != nullptr)
			error->Release();
	}
	StOutOfMemoryError(const StOutOfMemoryError&) = delete;
	StOutOfMemoryError& operator=(const StOutOfMemoryError&) = delete;

	VErrorBase* Get() const { return fError; }

private:
	VErrorBase* fError;
};

StOutOfMemoryError sOutOfMemoryError;

// A new error for code with its texts, or null when the object cannot be allocated.
VErrorBase* MakeError(VError code, const VString* p1, const VString* p2, const VString* p3)
{
	VErrorBase* error = new (std::nothrow) VErrorBase(code);
	if (error == nullptr)
		return nullptr;
	// A text that cannot be stored is left out: the code is what callers test.
	if (p1 != nullptr)
		error->SetString(VString("p1"), *p1);
	if (p2 != nullptr)
		error->SetString(VString("p2"), *p2);
	if (p3 != nullptr)
		error->SetString(VString("p3"), *p3);
	return error;
}

}  // namespace

void _ThrowError(VError code, const VString* p1, const VString* p2, const VString* p3) noexcept
{
	if (VProcess::sInstance == nullptr || sRaising)
		return;
	StRaising raising;
	VErrorBase* error = MakeError(code, p1, p2, p3);
	try
	{
		// A push that cannot store the error failed for memory (without a task nothing is stored either
		// way, and the second push does nothing).
		if (error == nullptr || !VTask::PushError(error))
			VTask::PushError(sOutOfMemoryError.Get());
	}
	catch (const std::bad_alloc&)
	{
		// The task could not make its error stack: there is nowhere to record anything.
	}
	if (error != nullptr)
		error->Release();
}

}  // namespace velk
