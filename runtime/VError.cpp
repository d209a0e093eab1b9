#include "runtime/VError.h"

#include "kernel/strings/VString.h"
#include "runtime/VErrorBase.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

// Set while this thread builds an error: building it makes strings, and when memory is exhausted those
// raise again, which would recurse until the stack overflows. The outer error is the one that counts.
thread_local bool sRaising = false;

}  // namespace

void _ThrowError(VError code, const VString* p1, const VString* p2, const VString* p3)
{
	if (VProcess::sInstance == nullptr || sRaising)
		return;
	sRaising = true;
	VErrorBase* error = new VErrorBase(code);
	if (p1 != nullptr)
		error->SetString(VString("p1"), *p1);
	if (p2 != nullptr)
		error->SetString(VString("p2"), *p2);
	if (p3 != nullptr)
		error->SetString(VString("p3"), *p3);
	VTask::PushRetainedError(error);
	sRaising = false;
}

}  // namespace velk
