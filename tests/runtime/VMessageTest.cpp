// Messages between tasks: sends, posts, waits that run the waiter's messages, time-outs that withdraw,
// tasks that end with messages queued, delayed posts, idlers and the main task's shortcuts.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "files/VSystem.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/IIdleable.h"
#include "runtime/IMessageable.h"
#include "runtime/VFunctionMessage.h"
#include "runtime/VMessage.h"
#include "runtime/VMessageQueue.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {
namespace {

constexpr int32 kForever = 600000;  // longer than the test's time limit: reaching it is a failure

// Counts its runs and notes the task of the last.
class ProbeMessage : public VMessage
{
public:
	void DoExecute() override
	{
		fRanOn.store(VTask::GetCurrent());
		fRuns.fetch_add(1);
		VMessage::DoExecute();
	}
	std::atomic<int32> fRuns{0};
	std::atomic<VTask*> fRanOn{nullptr};
};

class ProbeTarget : public IMessageable
{
public:
	void DoMessage(VMessage&) override
	{
		fTick.store(VSystem::GetCurrentTicks());
		fTask.store(VTask::GetCurrent());
		fMessages.fetch_add(1);
	}
	std::atomic<int32> fMessages{0};
	std::atomic<uint32> fTick{0};
	std::atomic<VTask*> fTask{nullptr};
};

// Runs the calling task's messages in short waits until it is killed; counts its passes.
void ServeUntilKilled(bool withIdle, std::atomic<int32>* passes = nullptr)
{
	while (!VTask::GetCurrent()->IsDying())
	{
		VTask::ExecuteMessagesWithTimeout(5, withIdle);
		if (passes != nullptr)
			passes->fetch_add(1);
	}
}

// A preemptive task running body, from construction; killed, waited for and released at scope end.
class StRunningTask
{
public:
	explicit StRunningTask(std::function<void()>&& body) : fTask(new VTask(0, eTaskStylePreemptive, std::move(body)))
	{
		EXPECT_TRUE(fTask->Run());
	}
	~StRunningTask()
	{
		fTask->Kill();
		EXPECT_TRUE(fTask->WaitForDeath(kForever));
		fTask->Release();
	}
	StRunningTask(const StRunningTask&) = delete;
	StRunningTask& operator=(const StRunningTask&) = delete;
	VTask* Get() const { return fTask; }

private:
	VTask* fTask;
};

TEST(VMessage, OnTheTargetsOwnTaskRunsAtOnceOrWhenPosted)
{
	struct Row
	{
		const char* name;
		std::function<bool(VMessage&, IMessageable*)> deliver;
		bool ranAtOnce;
	};
	const Row rows[] = {
		{"send", [](VMessage& m, IMessageable* t) { return m.SendTo(t); }, true},
		{"send with time-out", [](VMessage& m, IMessageable* t) { return m.SendTo(t, 100); }, true},
		{"post, now if same task", [](VMessage& m, IMessageable* t) { return m.PostTo(t, true); }, true},
		{"post and wait", [](VMessage& m, IMessageable* t) { return m.PostToAndWaitExecutingMessages(t); }, true},
		{"post", [](VMessage& m, IMessageable* t) { return m.PostTo(t); }, false},
	};
	ProbeTarget target;  // lives on the test's task
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VRefPtr<ProbeMessage> message(new ProbeMessage, true);
		const int32 before = target.fMessages.load();
		EXPECT_TRUE(row.deliver(*message, &target));
		EXPECT_EQ(message->fRuns.load(), row.ranAtOnce ? 1 : 0);
		EXPECT_EQ(message->Answered(), row.ranAtOnce);
		VTask::ExecuteMessages(false);
		EXPECT_EQ(message->fRuns.load(), 1);
		EXPECT_EQ(message->fRanOn.load(), VTask::GetCurrent());
		EXPECT_EQ(target.fMessages.load(), before + 1);
	}

	// Refused: a stopped target; a message in flight is not sent twice (a post of it says it is queued).
	VRefPtr<ProbeMessage> message(new ProbeMessage, true);
	target.StopMessaging();
	EXPECT_FALSE(message->SendTo(&target));
	target.StartMessaging();
	ASSERT_TRUE(message->PostTo(&target));
	EXPECT_FALSE(message->SendTo(&target));
	EXPECT_TRUE(message->PostTo(&target));
	VTask::ExecuteMessages(false);
	EXPECT_EQ(message->fRuns.load(), 1);
}

TEST(VMessage, TimedOutSendIsNeverRunLater)
{
	struct Row
	{
		const char* name;
		bool readingWhileSent;
		bool cancelledWhileSent;
	};
	const Row rows[] = {{"task reads only afterwards", false, false}, {"task reads meanwhile", true, false},
		{"task reads and cancels meanwhile", true, true}};
	constexpr int kSenders = 8;
	constexpr int kSendsEach = 1250;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VSyncEvent startReading;
		if (row.readingWhileSent)
			startReading.Unlock();
		StRunningTask reader([&startReading] {
			startReading.Lock();
			ServeUntilKilled(false);
		});
		if (!row.readingWhileSent)
		{
			VRefPtr<ProbeMessage> message(new ProbeMessage, true);
			uint64 start = VSystem::GetCurrentTime();
			EXPECT_FALSE(message->SendTo(reader.Get(), 100));
			EXPECT_GE(VSystem::GetCurrentTime() - start, 100u);
			EXPECT_TRUE(message->Aborted());
		}
		std::vector<VRefPtr<ProbeMessage>> messages[kSenders];
		std::vector<bool> results[kSenders];
		std::vector<std::thread> senders;
		for (int s = 0; s < kSenders; ++s)
		{
			senders.emplace_back([&, s] {
				for (int i = 0; i < kSendsEach; ++i)
				{
					VRefPtr<ProbeMessage> message(new ProbeMessage, true);
					results[s].push_back(message->SendTo(reader.Get(), i % 3));
					messages[s].push_back(message);
				}
			});
		}
		std::atomic<bool> sending{true};
		std::thread canceller([&] {
			while (row.cancelledWhileSent && sending.load())
				reader.Get()->CancelMessages(reader.Get());
		});
		for (std::thread& sender : senders)
			sender.join();
		sending = false;
		canceller.join();
		startReading.Unlock();
		// Queued last: once it ran, every message queued before it was taken.
		VRefPtr<ProbeMessage> last(new ProbeMessage, true);
		EXPECT_TRUE(last->SendTo(reader.Get()));
		int sent = 0;
		for (int s = 0; s < kSenders; ++s)
		{
			for (int i = 0; i < kSendsEach; ++i)
			{
				const ProbeMessage& message = *messages[s][i];
				ASSERT_EQ(message.fRuns.load(), results[s][i] ? 1 : 0) << "sender " << s << " send " << i;
				ASSERT_NE(message.Aborted(), results[s][i]);
				sent += results[s][i] ? 1 : 0;
			}
		}
		if (!row.readingWhileSent)
		{
			EXPECT_EQ(sent, 0);
		}
	}
}

TEST(VMessage, WaitEndsWhenTheTargetEndsOrTheWaiterIsKilled)
{
	struct Row
	{
		const char* name;
		std::function<bool(VMessage&, IMessageable*)> deliver;
		bool killWaiter;  // else the target ends with the message queued
	};
	const Row rows[] = {
		{"send, target ends", [](VMessage& m, IMessageable* t) { return m.SendTo(t); }, false},
		{"post and wait, target ends", [](VMessage& m, IMessageable* t) { return m.PostToAndWaitExecutingMessages(t); },
			false},
		{"post and wait, waiter killed",
			[](VMessage& m, IMessageable* t) { return m.PostToAndWaitExecutingMessages(t); }, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VSyncEvent end;
		VTask* target = new VTask(0, eTaskStylePreemptive, [&end] { end.Lock(); });
		ASSERT_TRUE(target->Run());
		VRefPtr<ProbeMessage> message(new ProbeMessage, true);
		std::atomic<bool> delivered{true};
		{
			StRunningTask waiter([&] { delivered = row.deliver(*message, target); });
			VMessageQueue* queue = target->RetainMessageQueue();
			while (queue->IsEmpty())
				VTask::Sleep(1);
			queue->Release();
			if (row.killWaiter)
				waiter.Get()->Kill();
			else
				end.Unlock();
		}
		end.Unlock();
		EXPECT_FALSE(delivered.load());
		EXPECT_TRUE(message->Aborted());
		EXPECT_TRUE(target->WaitForDeath(kForever));
		EXPECT_EQ(message->fRuns.load(), 0);
		// Once the task is dead a send is refused at once.
		EXPECT_FALSE(message->SendTo(target));
		target->Release();
	}
}

TEST(VMessage, TwoTasksWaitingOnEachOtherBothComplete)
{
	struct Row
	{
		const char* name;
		bool nested;  // B's call comes from inside A's message rather than from B's own body
	};
	const Row rows[] = {{"crossed", false}, {"nested", true}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::atomic<VTask*> taskA{nullptr};
		std::atomic<VTask*> taskB{nullptr};
		VSyncEvent go;
		std::atomic<bool> ranOnA{false};
		std::atomic<bool> ranOnB{false};
		std::atomic<int32> answered{0};
		auto callA = [&] { ranOnA = VTask::GetCurrent() == taskA.load(); };
		auto callB = [&] {
			ranOnB = VTask::GetCurrent() == taskB.load();
			if (row.nested && VFunctionMessage::PostToAndWait(taskA.load(), callA))
				answered.fetch_add(1);
		};
		StRunningTask a([&] {
			go.Lock();
			if (VFunctionMessage::PostToAndWait(taskB.load(), callB))
				answered.fetch_add(1);
			ServeUntilKilled(false);
		});
		StRunningTask b([&] {
			go.Lock();
			if (!row.nested && VFunctionMessage::PostToAndWait(taskA.load(), callA))
				answered.fetch_add(1);
			ServeUntilKilled(false);
		});
		taskA = a.Get();
		taskB = b.Get();
		go.Unlock();
		while (answered.load() < 2)
			VTask::Sleep(1);
		EXPECT_TRUE(ranOnA.load());
		EXPECT_TRUE(ranOnB.load());
	}
}

TEST(VMessage, DelayedPostArrivesAfterItsDueTick)
{
	StRunningTask task([] { ServeUntilKilled(true); });
	ProbeTarget target;
	target.SetMessagingTask(task.Get()->GetID());
	VRefPtr<ProbeMessage> message(new ProbeMessage, true);
	const uint32 posted = VSystem::GetCurrentTicks();
	ASSERT_TRUE(message->PostTo(&target, false, 50));
	while (target.fMessages.load() == 0)
		VTask::Sleep(1);
	// Due 3 ticks after the post: never run before that tick (the tick clock and the due time may part by
	// less than a tick, so the run's tick is not always a later one).
	EXPECT_GE(int32(target.fTick.load() - posted), 3);
	EXPECT_EQ(target.fTask.load(), task.Get());
	EXPECT_EQ(message->fRuns.load(), 1);
}

class CountingIdler : public IIdleable
{
public:
	void DoIdle() override { (VTask::GetCurrent() == fTask ? fCalls : fCallsElsewhere).fetch_add(1); }
	VTask* fTask = nullptr;
	std::atomic<int32> fCalls{0};
	std::atomic<int32> fCallsElsewhere{0};
};

TEST(VMessage, IdlersAreCalledFromTheIdleStepsOfTheirTask)
{
	std::atomic<int32> passes{0};
	StRunningTask task([&passes] { ServeUntilKilled(true, &passes); });
	CountingIdler* idler = new CountingIdler;
	idler->fTask = task.Get();
	idler->StartIdling(task.Get());
	while (idler->fCalls.load() < 3)
		VTask::Sleep(1);
	EXPECT_EQ(idler->fCallsElsewhere.load(), 0);
	// Stopped and destroyed on its task, between passes: the task must no longer name it.
	EXPECT_TRUE(VFunctionMessage::PostToAndWait(task.Get(), [idler] {
		idler->StopIdling();
		delete idler;
	}));
	const int32 after = passes.load() + 10;
	while (passes.load() < after)
		VTask::Sleep(1);
}

TEST(VMessage, MainTaskShortcuts)
{
	struct Row
	{
		const char* name;
		std::function<bool(std::function<void()>)> hand;
		bool runsOnMain;
		bool ranBeforeReturn;
	};
	const Row rows[] = {
		{"post", [](std::function<void()> f) { return VFunctionMessage::PostToMainTask(std::move(f), false); }, true, false},
		{"post, now", [](std::function<void()> f) { return VFunctionMessage::PostToMainTask(std::move(f), true); }, false,
			true},
		{"post and wait", [](std::function<void()> f) { return VFunctionMessage::PostToMainTaskAndWait(std::move(f), false); },
			true, true},
		{"post and wait, now",
			[](std::function<void()> f) { return VFunctionMessage::PostToMainTaskAndWait(std::move(f), true); }, false, true},
	};
	VTask* mainTask = VTask::GetCurrent();
	ASSERT_TRUE(VTask::IsCurrentMain());
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::atomic<VTask*> ranOn{nullptr};
		std::atomic<bool> ranBeforeReturn{false};
		std::atomic<bool> done{false};
		std::atomic<bool> handed{false};
		StRunningTask task([&] {
			handed = row.hand([&ranOn] { ranOn = VTask::GetCurrent(); });
			ranBeforeReturn = ranOn.load() != nullptr;
			done = true;
		});
		while (!done.load() || ranOn.load() == nullptr)
			VTask::ExecuteMessagesWithTimeout(5, false);
		EXPECT_TRUE(handed.load());
		EXPECT_EQ(ranOn.load(), row.runsOnMain ? mainTask : task.Get());
		if (row.ranBeforeReturn)
		{
			EXPECT_TRUE(ranBeforeReturn.load());
		}
	}
	// On the main task itself the wait runs the function at once.
	bool ran = false;
	EXPECT_TRUE(VFunctionMessage::PostToMainTaskAndWait([&ran] { ran = true; }, false));
	EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace velk
