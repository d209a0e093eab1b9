// Log bags per second from LogMessage through the logger's ring to a listener that counts them: one producer
// flushing every 1000 bags itself, and four producers with the "Logger" task flushing. The four-producer
// rows report the lines lost ("dropped"), those of them no line of the logger told of ("untold"), and the
// resident memory the run added (run the row alone for that figure). Against spdlog's asynchronous logger
// writing into a counting sink, when it is installed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "BenchMemory.h"
#include "BenchProcess.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VLogger.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

#if VELK_BENCH_HAVE_SPDLOG
#include <spdlog/async.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>
#endif

namespace {

using velk::VString;

const char kMessage[] = "request served";

// Counts the lines logged by the producers, and adds up the numbers given by the logger's lines about lost
// lines, which open a batch: only the first bag of each batch is looked at, so that counting stays cheap.
class CountingListener : public velk::ILogListener
{
public:
	void Put(const std::vector<const velk::VValueBag*>& bags) override
	{
		size_t lines = bags.size();
		VString message;
		if (!bags.empty() && velk::ILoggerBagKeys::message.Get(bags.front(), message) && !message.EqualToUSASCIICString(kMessage))
		{
			--lines;
			fTold.fetch_add(size_t(std::strtoull(velk::to_string(message).c_str(), nullptr, 10)), std::memory_order_relaxed);
		}
		fCount.fetch_add(lines, std::memory_order_relaxed);
	}
	std::atomic<size_t> fCount{0};
	std::atomic<size_t> fTold{0};
};

void BM_VLogger_OneProducer(benchmark::State& state)
{
	bench::EnsureProcess();
	CountingListener listener;
	{
		velk::VRefPtr<velk::VLogger> logger(new velk::VLogger, true);
		logger->Start();
		logger->AddLogListener(&listener);
		const VString message(kMessage);
		const VString source("bench");
		size_t logged = 0;
		for (auto _ : state)
		{
			logger->LogMessage(velk::EML_Information, message, source);
			if (++logged % 1000 == 0)
				logger->Flush();
		}
		logger->Flush();
	}
	state.SetItemsProcessed(int64_t(listener.fCount.load()));
}
BENCHMARK(BM_VLogger_OneProducer);

void BM_VLogger_FourProducers(benchmark::State& state)
{
	bench::EnsureProcess();
	constexpr int kProducers = 4;
	constexpr int kPerProducer = 100000;
	size_t delivered = 0;
	size_t told = 0;
	bench::StPeakResident resident;
	for (auto _ : state)
	{
		CountingListener listener;
		{
			velk::VRefPtr<velk::VLogger> logger(new velk::VLogger, true);
			logger->Start();
			logger->AddLogListener(&listener);
			std::vector<std::thread> producers;
			for (int p = 0; p < kProducers; ++p)
			{
				producers.emplace_back([&logger] {
					const VString message(kMessage);
					const VString source("bench");
					for (int i = 0; i < kPerProducer; ++i)
						logger->LogMessage(velk::EML_Information, message, source);
				});
			}
			for (std::thread& producer : producers)
				producer.join();
			logger->Flush();
		}
		delivered += listener.fCount.load();
		told += listener.fTold.load();
	}
	const size_t logged = size_t(state.iterations()) * kProducers * kPerProducer;
	state.SetItemsProcessed(int64_t(logged));
	state.counters["dropped"] = double(logged - delivered) / double(state.iterations());
	state.counters["untold"] = double(logged - delivered - std::min(told, logged - delivered)) / double(state.iterations());
	state.counters["resident_MiB"] = resident.StopMiB();
}
BENCHMARK(BM_VLogger_FourProducers)->Unit(benchmark::kMillisecond)->UseRealTime();

#if VELK_BENCH_HAVE_SPDLOG
template <typename Mutex>
class CountingSink : public spdlog::sinks::base_sink<Mutex>
{
public:
	std::atomic<size_t> fCount{0};

protected:
	void sink_it_(const spdlog::details::log_msg&) override { fCount.fetch_add(1, std::memory_order_relaxed); }
	void flush_() override {}
};

void BM_Spdlog_Async(benchmark::State& state)
{
	const int producers = int(state.range(0));
	constexpr int kPerProducer = 100000;
	size_t dropped = 0;
	bench::StPeakResident resident;
	for (auto _ : state)
	{
		spdlog::init_thread_pool(8192, 1);
		auto sink = std::make_shared<CountingSink<std::mutex>>();
		auto logger = std::make_shared<spdlog::async_logger>("bench", sink, spdlog::thread_pool(), spdlog::async_overflow_policy::overrun_oldest);
		std::vector<std::thread> threads;
		for (int p = 0; p < producers; ++p)
		{
			threads.emplace_back([&logger] {
				for (int i = 0; i < kPerProducer; ++i)
					logger->info(kMessage);
			});
		}
		for (std::thread& thread : threads)
			thread.join();
		logger->flush();
		dropped += spdlog::thread_pool()->overrun_counter();
		spdlog::shutdown();
		benchmark::DoNotOptimize(sink->fCount.load());
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * producers * kPerProducer);
	state.counters["dropped"] = double(dropped) / double(state.iterations());
	state.counters["resident_MiB"] = resident.StopMiB();
}
BENCHMARK(BM_Spdlog_Async)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
