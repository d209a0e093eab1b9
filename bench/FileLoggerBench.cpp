// Lines per second written by the file logger, one bag per Put and so one flush per line: with the bag made
// and stamped in the loop as the process logger's callers would, and from bags made beforehand (what the
// file logger itself does: line building and output). Against spdlog's rotating file sink (10 MiB, 50
// files) flushing every line, with the same line, when it is installed.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "containers/VValueBag.h"
#include "files/VFolder.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VLog4jMsgFileLogger.h"
#include "runtime/VProcess.h"

#if VELK_BENCH_HAVE_SPDLOG
#include <atomic>
#include <memory>

#include <spdlog/details/fmt_helper.h>
#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#endif

namespace {

using velk::VString;

// A folder of its own for one benchmark's files, removed at the end of its scope.
class TemporaryFolder
{
public:
	TemporaryFolder()
	{
		char pattern[] = "/tmp/velk-bench-log-XXXXXX";
		if (mkdtemp(pattern) != nullptr)
			fPath = std::string(pattern) + "/";
	}
	~TemporaryFolder()
	{
		if (!fPath.empty())
			std::filesystem::remove_all(fPath);
	}
	std::string fPath;
};

velk::VRefPtr<velk::VValueBag> MakeBag(const VString& message, const VString& source)
{
	velk::VRefPtr<velk::VValueBag> bag(new velk::VValueBag, true);
	velk::ILoggerBagKeys::source.Set(bag.Get(), source);
	velk::ILoggerBagKeys::message.Set(bag.Get(), message);
	velk::VTime now;
	now.FromSystemTime();
	velk::ILoggerBagKeys::time.Set(bag.Get(), now);
	velk::ILoggerBagKeys::sequence.Set(bag.Get(), int64_t(velk::ILogger::GetSequenceNumber()));
	return bag;
}

void RunFileLogger(benchmark::State& state, bool bagPerLine)
{
	bench::EnsureProcess();
	TemporaryFolder temporary;
	velk::VRefPtr<velk::VFolder> folder(new velk::VFolder(VString(temporary.fPath.c_str()), velk::FPS_POSIX), true);
	velk::VLog4jMsgFileLogger logger(folder.Get(), VString("bench"));
	logger.Start();
	if (!logger.IsStarted())
	{
		state.SkipWithError("the log file could not be opened");
		return;
	}
	const VString message("request served");
	const VString source("bench");
	// Bags as the logger's task receives them, each written once before the pool comes round again.
	std::vector<velk::VRefPtr<velk::VValueBag>> pool;
	for (int i = 0; !bagPerLine && i < 1024; ++i)
		pool.push_back(MakeBag(message, source));
	std::vector<const velk::VValueBag*> batch(1);
	size_t next = 0;
	for (auto _ : state)
	{
		if (bagPerLine)
		{
			const velk::VRefPtr<velk::VValueBag> bag = MakeBag(message, source);
			batch[0] = bag.Get();
			logger.GetLogListener().Put(batch);
		}
		else
		{
			batch[0] = pool[next++ % pool.size()].Get();
			logger.GetLogListener().Put(batch);
		}
	}
	logger.Stop();
	state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_FileLogger_BagPerLine(benchmark::State& state)
{
	RunFileLogger(state, true);
}
BENCHMARK(BM_FileLogger_BagPerLine);

void BM_FileLogger_MadeBags(benchmark::State& state)
{
	RunFileLogger(state, false);
}
BENCHMARK(BM_FileLogger_MadeBags);

#if VELK_BENCH_HAVE_SPDLOG
std::atomic<uint64_t> sSpdlogSequence{0};

// The line's leading sequence number, which spdlog's patterns do not have.
class SequenceFlag : public spdlog::custom_flag_formatter
{
public:
	void format(const spdlog::details::log_msg&, const std::tm&, spdlog::memory_buf_t& dest) override
	{
		spdlog::details::fmt_helper::append_int(sSpdlogSequence.fetch_add(1, std::memory_order_relaxed) + 1, dest);
	}
	std::unique_ptr<custom_flag_formatter> clone() const override { return std::make_unique<SequenceFlag>(); }
};

void BM_Spdlog_RotatingFile(benchmark::State& state)
{
	TemporaryFolder temporary;
	auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(temporary.fPath + "bench.txt", 10 * 1024 * 1024, 50);
	spdlog::logger logger("bench", sink);
	auto formatter = std::make_unique<spdlog::pattern_formatter>();
	formatter->add_flag<SequenceFlag>('*').set_pattern("%* %Y-%m-%dT%H:%M:%S.%e [%n] INFO - %v ()");
	logger.set_formatter(std::move(formatter));
	logger.flush_on(spdlog::level::trace);
	for (auto _ : state)
		logger.info("request served");
	logger.flush();
	state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_Spdlog_RotatingFile);
#endif

}  // namespace
