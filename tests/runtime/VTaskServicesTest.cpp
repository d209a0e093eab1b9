#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "common/VTestEnvironment.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/strings/VString.h"
#include "runtime/VActivityToken.h"
#include "runtime/VProcess.h"
#include "runtime/VScheduler_void.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "platform/RunLoop.h"

namespace velk {
namespace {

std::atomic<int> sDestroyed{0};
void CountDestroyed(void*)
{
	++sDestroyed;
}

// Runs body on a new task and waits for its death.
void RunOnTask(std::function<void()> body)
{
	VTask* task = new VTask(0, eTaskStylePreemptive, std::move(body));
	ASSERT_TRUE(task->Run());
	ASSERT_TRUE(task->WaitForDeath(60000));
	task->Release();
}

TEST(VTaskData, KeysAreReusedAndNeverShowAnOldKeysValue)
{
	VTaskMgr* manager = VTaskMgr::Get();
	int slot = 0;
	struct Step
	{
		const char* fWhat;
		bool fDeleteFirst;  // delete and make the key again before reading
		bool fExpectValue;
	};
	const Step steps[] = {
		{"value set for the key is read back", false, true},
		{"a key deleted and made again shows nothing of the old key", true, false},
	};
	for (const Step& step : steps)
	{
		SCOPED_TRACE(step.fWhat);
		int32 key = manager->CreateDataKey(nullptr);
		ASSERT_GT(key, 0);
		VTask::SetCurrentData(key, &slot);
		if (step.fDeleteFirst)
		{
			manager->DeleteDataKey(key);
			EXPECT_FALSE(manager->CheckDataKey(key));
			EXPECT_EQ(manager->CreateDataKey(nullptr), key);  // the first free entry is reused
		}
		EXPECT_EQ(VTask::GetCurrentData(key) != nullptr, step.fExpectValue);
		manager->DeleteDataKey(key);
	}
	// Key 0 and keys never made are neither stored nor read.
	VTask::SetCurrentData(0, &slot);
	VTask::SetCurrentData(9999, &slot);
	EXPECT_EQ(VTask::GetCurrentData(0), nullptr);
	EXPECT_EQ(VTask::GetCurrentData(9999), nullptr);
}

TEST(VTaskData, DestructorRunsForLiveKeysOnlyWhenTheTaskEnds)
{
	VTaskMgr* manager = VTaskMgr::Get();
	int32 kept = manager->CreateDataKey(&CountDestroyed);
	int32 deleted = manager->CreateDataKey(&CountDestroyed);
	sDestroyed = 0;
	std::atomic<bool> deletedInside{false};
	RunOnTask([&] {
		static int a = 1;
		static int b = 2;
		VTask::SetCurrentData(kept, &a);
		VTask::SetCurrentData(deleted, &b);
		manager->DeleteDataKey(deleted);
		deletedInside = true;
	});
	EXPECT_TRUE(deletedInside.load());
	// The deleted key's destructor never sees the value kept for it.
	EXPECT_EQ(sDestroyed.load(), 1);
	manager->DeleteDataKey(kept);
}

TEST(VTaskMgrLookups, ListedTasksAreFoundByIDUntilDead)
{
	VTaskMgr* manager = VTaskMgr::Get();
	VSyncEvent release;
	VTask* task = new VTask(0, eTaskStylePreemptive, [&] { release.Lock(); });
	ASSERT_TRUE(task->Run());
	VRefPtr<VTask> found = manager->GetTaskByID(task->GetID());
	EXPECT_EQ(found.Get(), task);
	std::vector<VTask*> tasks;
	manager->GetTasks(tasks);
	EXPECT_NE(std::find(tasks.begin(), tasks.end(), task), tasks.end());
	EXPECT_EQ(tasks.front(), manager->GetMainTask());
	for (VTask* listed : tasks)
		listed->Release();
	release.Unlock();
	ASSERT_TRUE(task->WaitForDeath(60000));
	EXPECT_EQ(manager->RetainTaskByID(task->GetID()), nullptr);
	EXPECT_EQ(manager->RetainTaskByID(0), nullptr);
	found = nullptr;
	task->Release();
}

TEST(VTaskWaitForDeath, SelfAndDeadTargetsAnswerAtOnce)
{
	VTask* main = VTask::GetCurrent();
	EXPECT_FALSE(main->WaitForDeath(60000));
	VTask* task = new VTask(0, eTaskStylePreemptive, [] {});
	ASSERT_TRUE(task->Run());
	ASSERT_TRUE(task->WaitForDeath(60000));
	// Already dead: true with no wait at all, even with no time allowed.
	EXPECT_TRUE(task->WaitForDeath(0));
	task->Release();
	// From a thread without a task: served too, on a queue of its own.
	VSyncEvent release;
	VTask* other = new VTask(0, eTaskStylePreemptive, [&] { release.Lock(); });
	ASSERT_TRUE(other->Run());
	std::atomic<bool> dead{false};
	std::thread foreign([&] { dead = other->WaitForDeath(60000); });
	release.Unlock();
	foreign.join();
	EXPECT_TRUE(dead.load());
	other->Release();
}

size_t CountThreads()
{
	size_t count = 0;
	for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
		++count;
	return count;
}

TEST(VTaskLifecycle, TaskDestroyedUnrunLeavesNoThread)
{
	VTestEnvironment::StopLoggerTask();
	// The logger's thread ends after its task was stopped: count once the number holds still.
	size_t before = CountThreads();
	for (int i = 0; i < 500; ++i)
	{
		VTask::Sleep(10);
		const size_t now = CountThreads();
		if (now == before)
			break;
		before = now;
	}
	VTask* task = new VTask(0, eTaskStylePreemptive, [] { ADD_FAILURE() << "an unrun task's body ran"; });
	EXPECT_EQ(CountThreads(), before + 1);  // its thread waits to be run
	task->Release();
	// The thread sees it was not run and ends; give it the time a loaded machine needs.
	for (int i = 0; i < 500 && CountThreads() > before; ++i)
		VTask::Sleep(10);
	EXPECT_EQ(CountThreads(), before);
}

TEST(VActivityToken, ProcessStaysActiveWhileATokenLivesAndForTheGraceAfter)
{
	VProcess* process = VProcess::sInstance;
	ASSERT_NE(process, nullptr);
	VTestEnvironment::StopLoggerTask();  // its task holds a token until it has started
	VActivityToken* token = new VActivityToken(VString("work"));
	EXPECT_TRUE(process->HasSomeActivityTokens(0));
	token->Release();
	EXPECT_TRUE(process->HasSomeActivityTokens(60000));
	VTask::Sleep(20);
	EXPECT_FALSE(process->HasSomeActivityTokens(10));
	// A running task holds one: "Running task " and its name.
	VSyncEvent release;
	VTask* task = new VTask(0, eTaskStylePreemptive, [&] { release.Lock(); });
	ASSERT_TRUE(task->Run());
	EXPECT_TRUE(process->HasSomeActivityTokens(0));
	release.Unlock();
	ASSERT_TRUE(task->WaitForDeath(60000));
	task->Release();
}

TEST(VTaskHost, JSONObjectsAreTerminatedWithTheContextAndHostTaskIsKept)
{
	VRefPtr<VJSONObject> object(new VJSONObject(nullptr, nullptr, false), true);
	VDBLanguageContext* context = reinterpret_cast<VDBLanguageContext*>(0x10);
	int calls = 0;
	VTask::RegisterJSONObject(object.Get(), [&](VJSONObject* seen, VDBLanguageContext* given) {
		EXPECT_EQ(seen, object.Get());
		EXPECT_EQ(given, context);
		++calls;
	});
	VTask::RegisterJSONObject(object.Get(), [&](VJSONObject*, VDBLanguageContext*) { calls += 100; });  // once only
	VTask::GetCurrent()->TerminateJSONObjects(context);
	EXPECT_EQ(calls, 1);
	VTask::UnregisterJSONObject(object.Get());
	VTask::GetCurrent()->TerminateJSONObjects(context);
	EXPECT_EQ(calls, 1);

	VRefPtr<VJSONObject> owner(new VJSONObject(nullptr, nullptr, false), true);
	VTask* main = VTask::GetCurrent();
	main->SetRyTask(reinterpret_cast<VRyTask*>(0x20), owner.Get());
	IRefCountable* retained = main->RetainRyTask();
	EXPECT_EQ(retained, owner.Get());
	retained->Release();
	EXPECT_EQ(main->GetRyTask(), reinterpret_cast<VRyTask*>(0x20));
	main->SetRyTask(nullptr, nullptr);
	EXPECT_EQ(main->RetainRyTask(), nullptr);
}

// Counts the update-event polls the manager asks of it.
class CountingScheduler : public VScheduler_void
{
public:
	void PollAndExecuteUpdateEvent() override { ++fPolls; }
	void SetSystemEventPolling(bool polling) override { fPolling = polling; }
	std::atomic<int> fPolls{0};
	std::atomic<bool> fPolling{true};
};

TEST(VTaskMgrUpdateEvents, TimerPollsOnlyWhileTheCallersLoopRunsAndOnlyInsideTheOutermostScope)
{
	VTaskMgr* manager = VTaskMgr::Get();
	CountingScheduler* scheduler = new CountingScheduler;
	manager->SetFiberScheduler(scheduler);
	manager->MAC_BeginHandlingUpdateEventsOnly();
	manager->MAC_BeginHandlingUpdateEventsOnly();
	EXPECT_FALSE(scheduler->fPolling.load());
	EXPECT_EQ(scheduler->fPolls.load(), 0);  // nothing fires while the loop is not run
	while (scheduler->fPolls.load() < 2)
		plat::RunLoop::Current().RunOnce(1000);
	manager->MAC_StopHandlingUpdateEventsOnly();
	EXPECT_FALSE(scheduler->fPolling.load());  // still inside the outer scope
	manager->MAC_StopHandlingUpdateEventsOnly();
	EXPECT_TRUE(scheduler->fPolling.load());
	int polls = scheduler->fPolls.load();
	plat::RunLoop::Current().RunOnce(30);
	EXPECT_EQ(scheduler->fPolls.load(), polls);
	manager->MAC_StopHandlingUpdateEventsOnly();  // unbalanced: ignored
	VScheduler_void* plain = new VScheduler_void;
	manager->SetFiberScheduler(plain);
	plain->Release();
	scheduler->Release();
}

}  // namespace
}  // namespace velk
