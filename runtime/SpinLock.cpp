#include "runtime/SpinLock.h"

#include <atomic>
#include <new>

#include "files/VFile.h"
#include "files/VSystem.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/VProcess.h"

namespace velk {

// Constant-initialized: locks are taken by static initializers before main.
constinit SpinLock::LockRoutine SpinLock::Lock = &SpinLock::_LockMaxSpinsThenLoopYields;
constinit SpinLock::UnlockRoutine SpinLock::Unlock = &SpinLock::_Unlock;
constinit int32 SpinLock::sMaxSpins = 1;
constinit bool SpinLock::sYieldAfterCheckEvent = false;

namespace {

// The mode names are compared without regard to case or diacritics, as a user would type them: through
// the task's collator, and letter by letter with A-Z folded while the task has no international manager.
bool EqualsModeName(const VString& text, const char* name)
{
	if (text.EqualToString(VString(name), false))
		return true;
	const UniChar* units = text.GetCPointer();
	int32 length = text.GetLength();
	int32 i = 0;
	for (; i < length && name[i] != 0; ++i)
	{
		UniChar c = units[i];
		UniChar n = UniChar(uint8(name[i]));
		if (c >= u'A' && c <= u'Z')
			c = UniChar(c - u'A' + u'a');
		if (n >= u'A' && n <= u'Z')
			n = UniChar(n - u'A' + u'a');
		if (c != n)
			return false;
	}
	return i == length && name[i] == 0;
}

}  // namespace

void SpinLock::_Unlock(uint32* word)
{
	_Release(word);
}

void SpinLock::_LockMaxSpinsThenLoopYields(uint32* word)
{
	int32 spins = sMaxSpins < 1 ? 1 : sMaxSpins;
	for (int32 i = 0; i < spins; ++i)
	{
		if (_TryAcquire(word))
			return;
	}
	for (;;)
	{
		VTaskMgr::YieldNow();
		if (_TryAcquire(word))
			return;
	}
}

void SpinLock::_LockLoopMaxSpinsAndYields(uint32* word)
{
	for (;;)
	{
		int32 spins = sMaxSpins < 1 ? 1 : sMaxSpins;
		for (int32 i = 0; i < spins; ++i)
		{
			if (_TryAcquire(word))
				return;
		}
		VTaskMgr::YieldNow();
		if (_TryAcquire(word))
			return;
	}
}

void SpinLock::_LockAlwaysSleep(uint32* word)
{
	if (_TryAcquire(word))
		return;
	int32 processors = VSystem::GetNumberOfLogicalProcessors();
	int32 limit = processors < 9 ? 8 : processors;
	for (int32 pass = 1;; ++pass)
	{
		VTask::Sleep(pass < limit ? 0 : 1);
		if (_TryAcquire(word))
			return;
	}
}

void SpinLock::_ApplySettings(const VString* mode, const double* maxSpins, const bool* yieldAfterCheckEvent)
{
	if (mode != nullptr)
	{
		LockRoutine routine = nullptr;
		if (EqualsModeName(*mode, "alwaysSleep"))
			routine = &_LockAlwaysSleep;
		else if (EqualsModeName(*mode, "loopMaxSpinsAndYields"))
			routine = &_LockLoopMaxSpinsAndYields;
		else if (EqualsModeName(*mode, "maxSpinsThenLoopYields"))
			routine = &_LockMaxSpinsThenLoopYields;
		if (routine != nullptr)
		{
			Lock = routine;
			Unlock = &_Unlock;
		}
	}
	if (maxSpins != nullptr)
	{
		// Truncated to 32 bits as a JSON number is; values out of range saturate rather than wrap.
		double value = *maxSpins;
		if (!(value == value))
			sMaxSpins = 0;
		else if (value >= 2147483647.0)
			sMaxSpins = 2147483647;
		else if (value <= -2147483648.0)
			sMaxSpins = -2147483647 - 1;
		else
			sMaxSpins = int32(value);
	}
	if (yieldAfterCheckEvent != nullptr)
		sYieldAfterCheckEvent = *yieldAfterCheckEvent;
}

void SpinLock::Configure()
{
	if (VProcess::sInstance == nullptr)
		return;
	try
	{
		VRefPtr<VFile> file(VProcess::sInstance->RetainFile(kPROCESS_FOLDER_EXECUTABLE, VString("spinlock.prm")), true);
		if (file)
			_ConfigureFromFile(*file);
	}
	catch (const std::bad_alloc&)
	{
		// Short of memory the defaults stay, as for a missing file.
	}
}

void SpinLock::_ConfigureFromFile(const VFile& file)
{
	// Changing the strategy is safe only while no second task can be inside a lock.
	if (VTaskMgr::Get()->GetTaskCount(false) != 1)
		return;
	if (!file.Exists())
		return;

	// A settings file that cannot be read or parsed only leaves the defaults: its errors are dropped.
	StErrorContextInstaller scope(false, true);
	VJSONValue root;
	if (file.GetContentAsJSON(root, 7 /* UTF-8 */) != VE_OK || !root.IsObject())
		return;

	const VJSONValue mode = root.GetProperty(VString("mode"));
	const VJSONValue maxSpins = root.GetProperty(VString("maxSpins"));
	const VJSONValue yieldAfterCheckEvent = root.GetProperty(VString("yieldAfterCheckEvent"));
	VString modeText;
	if (mode.IsString() && mode.GetString(modeText) != VE_OK)
		return;
	const double spins = maxSpins.IsNumber() ? maxSpins.GetNumber() : 0;
	const bool yield = yieldAfterCheckEvent.IsBool() && yieldAfterCheckEvent.GetBool();
	_ApplySettings(mode.IsString() ? &modeText : nullptr, maxSpins.IsNumber() ? &spins : nullptr,
		yieldAfterCheckEvent.IsBool() ? &yield : nullptr);
}

}  // namespace velk
