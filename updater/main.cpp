// The updater's entry point: the application object on the stack, its start-up, its run, and the outcome
// as the exit code (0 done or nothing to do, 1 start-up stopped, 2 the update failed or never ran).
#include <stdlib.h>

#include <new>

#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VObject.h"
#include "runtime/VTask.h"
#include "updater/VUpdateEngine.h"

namespace velk {

namespace {

// The library makes the memory manager before main and takes it down after every other static; only a
// program without it has to make one here.
bool MakeMemoryManager()
{
	try
	{
		VObject::sCppMemMgr = new VCppMemMgr(eAllocator_FromBundle);
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
	return true;
}

__attribute__((constructor)) void initializer()
{
	if (VObject::sCppMemMgr == nullptr)
		MakeMemoryManager();
}

// Statics of the library still free into the memory manager after exit handlers ran: it is not ours to
// delete here.
void finalizer()
{
	VProcess::sInstance = nullptr;
}

const bool sFinalizerRegistered = ::atexit(&finalizer) == 0;

int _main()
{
	if (VObject::sCppMemMgr == nullptr && !MakeMemoryManager())
		return 1;
	VUpdateEngine engine;
	if (!engine.Init(0x50))
		return engine.GetExitCode();
	engine.SetExitCode(0);
	engine.Run();
	const VError error = VTask::GetLastError();
	if (error == VE_CANNOT_INITIALIZE_APPLICATION)
		return 1;
	// A run that never began updated nothing: that is no success.
	return error == VE_OK && engine.HasRun() ? 0 : 2;
}

}  // namespace

}  // namespace velk

int main(int argc, char** argv)
{
	velk::VProcessIPC::SetCommandLine(argc, argv);
	return velk::_main();
}
