// Post-and-handle round trips between two tasks: the calling task sends a function message to a task
// waiting in WaitAndExecuteMessages and blocks until it ran. Against two std::threads, each with a
// deque, a mutex and a condition variable: the caller pushes a callable to the other's queue and waits
// for the reply on its own.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "BenchProcess.h"
#include "runtime/VFunctionMessage.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace {

void BM_TaskMessages_SendRoundTrip(benchmark::State& state)
{
	bench::EnsureProcess();
	velk::VTask* handler = new velk::VTask(0, velk::eTaskStylePreemptive, []
	{
		while (!velk::VTask::GetCurrent()->IsDying())
			velk::VTask::WaitAndExecuteMessages();
	});
	if (!handler->Run())
	{
		state.SkipWithError("the handling task did not start");
		handler->Release();
		return;
	}
	int64_t handled = 0;
	for (auto _ : state)
	{
		velk::VFunctionMessage* message = new velk::VFunctionMessage([&handled] { ++handled; });
		if (!message->SendTo(handler))
			state.SkipWithError("a send was refused");
		message->Release();
	}
	handler->Kill();
	handler->WaitForDeath(60000);
	handler->Release();
	benchmark::DoNotOptimize(handled);
	state.SetItemsProcessed(handled);
}
BENCHMARK(BM_TaskMessages_SendRoundTrip)->UseRealTime();

// A thread's queue of callables.
class StdQueue
{
public:
	void Push(std::function<void()>&& call)
	{
		{
			std::lock_guard<std::mutex> lock(fMutex);
			fCalls.push_back(std::move(call));
		}
		fCondition.notify_one();
	}
	std::function<void()> Pop()
	{
		std::unique_lock<std::mutex> lock(fMutex);
		fCondition.wait(lock, [this] { return !fCalls.empty(); });
		std::function<void()> call = std::move(fCalls.front());
		fCalls.pop_front();
		return call;
	}

private:
	std::mutex fMutex;
	std::condition_variable fCondition;
	std::deque<std::function<void()>> fCalls;
};

void BM_TaskMessages_StdThreadsRoundTrip(benchmark::State& state)
{
	StdQueue handlerQueue;
	StdQueue replyQueue;
	bool stop = false;  // touched only by the handler's thread
	std::thread handlerThread([&]
	{
		while (!stop)
			handlerQueue.Pop()();
	});
	int64_t handled = 0;
	for (auto _ : state)
	{
		handlerQueue.Push([&]
		{
			++handled;
			replyQueue.Push([] {});
		});
		replyQueue.Pop()();
	}
	handlerQueue.Push([&stop] { stop = true; });
	handlerThread.join();
	benchmark::DoNotOptimize(handled);
	state.SetItemsProcessed(handled);
}
BENCHMARK(BM_TaskMessages_StdThreadsRoundTrip)->UseRealTime();

}  // namespace
