// VCriticalSection lock and release against std::recursive_mutex: alone, re-entered while already held, and
// with four threads taking one lock, under each acquire routine of the spin word (the argument: 0 the
// default spins-then-yields, 1 loop of spins and yields, 2 always sleep). A toolbox process always runs
// several threads, so one is started before any measure: the C library drops the atomic instructions of
// its mutexes while a process has never had a second thread, which no process of ours ever is.
#include <benchmark/benchmark.h>

#include <mutex>
#include <thread>

#include "runtime/SpinLock.h"
#include "runtime/VCriticalSection.h"

namespace {

const bool sMultiThreaded = [] {
	std::thread([] {}).join();
	return true;
}();

void UseSpinMode(int64_t mode)
{
	switch (mode)
	{
		case 1:
			velk::SpinLock::Lock = &velk::SpinLock::_LockLoopMaxSpinsAndYields;
			break;
		case 2:
			velk::SpinLock::Lock = &velk::SpinLock::_LockAlwaysSleep;
			break;
		default:
			velk::SpinLock::Lock = &velk::SpinLock::_LockMaxSpinsThenLoopYields;
			break;
	}
}

// Installed before the threads start and put back after they end: the routine is not changed while
// another thread may be inside a lock.
void InstallSpinMode(const benchmark::State& state)
{
	UseSpinMode(state.range(0));
}

void RestoreDefaultSpinMode(const benchmark::State&)
{
	UseSpinMode(0);
}

// Shared by the threads of one contended run; the counter is what the lock protects.
velk::VCriticalSection sSharedSection;
std::recursive_mutex sSharedMutex;
long sSharedCounter = 0;

void BM_VCriticalSection_Uncontended(benchmark::State& state)
{
	velk::VCriticalSection section;
	long counter = 0;
	for (auto _ : state)
	{
		section.Lock();
		++counter;
		section.Unlock();
	}
	benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_VCriticalSection_Uncontended)->DenseRange(0, 2)->Setup(InstallSpinMode)->Teardown(RestoreDefaultSpinMode);

void BM_StdRecursiveMutex_Uncontended(benchmark::State& state)
{
	std::recursive_mutex mutex;
	long counter = 0;
	for (auto _ : state)
	{
		mutex.lock();
		++counter;
		mutex.unlock();
	}
	benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_StdRecursiveMutex_Uncontended);

void BM_VCriticalSection_Reentered(benchmark::State& state)
{
	velk::VCriticalSection section;
	long counter = 0;
	section.Lock();
	for (auto _ : state)
	{
		section.Lock();
		++counter;
		section.Unlock();
	}
	section.Unlock();
	benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_VCriticalSection_Reentered)->DenseRange(0, 2)->Setup(InstallSpinMode)->Teardown(RestoreDefaultSpinMode);

void BM_StdRecursiveMutex_Reentered(benchmark::State& state)
{
	std::recursive_mutex mutex;
	long counter = 0;
	mutex.lock();
	for (auto _ : state)
	{
		mutex.lock();
		++counter;
		mutex.unlock();
	}
	mutex.unlock();
	benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_StdRecursiveMutex_Reentered);

void BM_VCriticalSection_Contended(benchmark::State& state)
{
	for (auto _ : state)
	{
		sSharedSection.Lock();
		++sSharedCounter;
		sSharedSection.Unlock();
	}
}
BENCHMARK(BM_VCriticalSection_Contended)
	->DenseRange(0, 2)
	->Threads(4)
	->UseRealTime()
	->Setup(InstallSpinMode)
	->Teardown(RestoreDefaultSpinMode);

void BM_StdRecursiveMutex_Contended(benchmark::State& state)
{
	for (auto _ : state)
	{
		sSharedMutex.lock();
		++sSharedCounter;
		sSharedMutex.unlock();
	}
}
BENCHMARK(BM_StdRecursiveMutex_Contended)->Threads(4)->UseRealTime();

}  // namespace
