#include "runtime/VFunctionMessage.h"

#include <new>

#include "runtime/VError.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {

void VFunctionMessage::DoExecute()
{
	if (fFunction)
		fFunction();
}

bool VFunctionMessage::PostFunctionTo(VTask* task, std::function<void()> function)
{
	if (task == nullptr)
		return false;
	VFunctionMessage* message = _Make(std::move(function));
	if (message == nullptr)
		return false;
	bool posted = message->PostTo(task);
	message->Release();
	return posted;
}

bool VFunctionMessage::PostToAndWait(VTask* task, std::function<void()> function)
{
	if (task == nullptr)
		return false;
	VFunctionMessage* message = _Make(std::move(function));
	if (message == nullptr)
		return false;
	bool ran = message->PostToAndWaitExecutingMessages(task);
	message->Release();
	return ran;
}

bool VFunctionMessage::PostToAndWait(VTask* task, std::function<void()> function, int32 timeoutMilliseconds)
{
	if (task == nullptr)
		return false;
	VFunctionMessage* message = _Make(std::move(function));
	if (message == nullptr)
		return false;
	bool ran = message->PostToAndWaitExecutingMessages(task, timeoutMilliseconds);
	message->Release();
	return ran;
}

bool VFunctionMessage::PostToMainTask(std::function<void()> function, bool executeNow)
{
	if (executeNow)
	{
		if (function)
			function();
		return true;
	}
	return PostFunctionTo(VTaskMgr::Get()->GetMainTask(), std::move(function));
}

bool VFunctionMessage::PostToMainTaskAndWait(std::function<void()> function, bool executeNow)
{
	if (executeNow || VTask::IsCurrentMain())
	{
		if (function)
			function();
		return true;
	}
	return PostToAndWait(VTaskMgr::Get()->GetMainTask(), std::move(function));
}

VFunctionMessage* VFunctionMessage::_Make(std::function<void()>&& function)
{
	VFunctionMessage* message = new (std::nothrow) VFunctionMessage(std::move(function));
	if (message == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return message;
}

}  // namespace velk
