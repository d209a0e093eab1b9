#include "runtime/VProcess.h"

#include "kernel/intl/VIntlMgr.h"
#include "runtime/VTaskMgr.h"

namespace velk {

constinit VProcess* VProcess::sInstance = nullptr;

VProcess::VProcess()
{
	sInstance = this;
}

VProcess::~VProcess()
{
	if (fInitCalled)
		_DeInit();
	if (sInstance == this)
		sInstance = nullptr;
}

bool VProcess::Init(uint32 flags)
{
	if (!fInitCalled)
	{
		fInitCalled = true;
		fInitResult = _Init(flags);
	}
	return fInitResult;
}

bool VProcess::_Init(uint32 flags)
{
	sInstance = this;
	// Fibers are not offered by this platform layer: tasks always run on threads of their own.
	fFibersWanted = false;
	(void)flags;
	// Before any task: each task starts with a copy of the process's manager.
	VIntlMgr* intl = VIntlMgr::Create(0, 0, 1);
	if (intl == nullptr)
		return false;
	if (fIntlMgr != nullptr)
		fIntlMgr->Release();
	fIntlMgr = intl;
	return VTaskMgr::Get()->Init(this);
}

void VProcess::_DeInit()
{
	if (sInstance == this)
		sInstance = nullptr;
	VTaskMgr::Get()->DeInit();
	if (fIntlMgr != nullptr)
	{
		fIntlMgr->Release();
		fIntlMgr = nullptr;
	}
}

}  // namespace velk
