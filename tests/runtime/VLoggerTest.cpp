// The process logger: which bags it keeps, the ring and its order, listeners and the "Logger" task, the
// error and assertion bags, and logging from many threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "common/VTestEnvironment.h"
#include "containers/VValueBag.h"
#include "kernel/memory/VRefPtr.h"
#include "platform/MainBundle.h"
#include "runtime/VErrorBase.h"
#include "runtime/VLogger.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// Keeps the sequence numbers and messages it receives; may log from its Put.
class RecordingListener : public ILogListener
{
public:
	void Put(const std::vector<const VValueBag*>& bags) override
	{
		std::lock_guard<std::mutex> guard(fMutex);
		++fBatches;
		for (const VValueBag* bag : bags)
		{
			int64 sequence = 0;
			ILoggerBagKeys::sequence.Get(bag, sequence);
			fSequences.push_back(sequence);
			VString message;
			ILoggerBagKeys::message.Get(bag, message);
			fMessages.push_back(to_string(message));
		}
		if (ILogger* logger = fLogger.load())
			logger->LogMessage(EML_Warning, VString("from Put"), VString("listener"));
	}
	size_t Count()
	{
		std::lock_guard<std::mutex> guard(fMutex);
		return fSequences.size();
	}

	std::mutex fMutex;
	int fBatches = 0;
	std::vector<int64> fSequences;
	std::vector<std::string> fMessages;
	std::atomic<ILogger*> fLogger{nullptr};  // set while the Logger task may be in Put
};

VRefPtr<VValueBag> MessageBag(const char* text, int32 level = EML_Information)
{
	VRefPtr<VValueBag> bag(new VValueBag, true);
	ILoggerBagKeys::message.Set(bag.Get(), VString(text));
	if (level != EML_Information)
		ILoggerBagKeys::level.Set(bag.Get(), level);
	return bag;
}

TEST(VLoggerTest, LevelsAndStamps)
{
	VLogger logger;
	logger.LogBag(MessageBag("before start").Get());
	logger.Start();
	struct Row
	{
		int32 level;
		bool kept;
	};
	const Row rows[] = {{EML_Debug, false}, {EML_Warning, true}, {EML_Information, true}, {EML_Fatal, true},
						{EML_Trace, false}, {32 + EML_Warning, true}, {32, false}};
	for (const Row& row : rows)
		EXPECT_EQ(logger.ShouldLog(EMessageLevel(row.level)), row.kept) << row.level;
	EXPECT_FALSE(logger.WithDebug(true));
	EXPECT_TRUE(logger.ShouldLog(EML_Debug));
	EXPECT_TRUE(logger.WithDebug(false));

	VRefPtr<VValueBag> kept = MessageBag("kept", EML_Warning);
	logger.LogBag(kept.Get());
	logger.LogBag(MessageBag("dropped", EML_Debug).Get());
	std::vector<const VValueBag*> pending;
	logger.Read(pending);
	ASSERT_EQ(pending.size(), 1u);
	EXPECT_EQ(pending[0], kept.Get());
	EXPECT_NE(pending[0]->GetAttribute(ILoggerBagKeys::time), nullptr);
	int64 first = 0;
	EXPECT_TRUE(ILoggerBagKeys::sequence.Get(pending[0], first));
	EXPECT_GT(first, 0);
	pending[0]->Release();

	// A message at the default level leaves "level" out; an empty source is the process's, which is the
	// main bundle's name while there is no process object.
	plat::SetMainBundleInfoStringForTesting("CFBundleName", std::string("Updater"));
	{
		StNoProcessInstance noProcess;
		logger.LogMessage(EML_Information, VString("hello"), VString());
	}
	logger.LogMessage(EML_Error, VString("bad"), VString("engine"));
	plat::ClearMainBundleOverridesForTesting();
	logger.Read(pending);
	ASSERT_EQ(pending.size(), 2u);
	EXPECT_EQ(pending[0]->GetAttribute(ILoggerBagKeys::level), nullptr);
	EXPECT_EQ(ILoggerBagKeys::level.Get(pending[0]), EML_Information);
	VString source;
	ILoggerBagKeys::source.Get(pending[0], source);
	EXPECT_EQ(to_string(source), "Updater");
	EXPECT_EQ(ILoggerBagKeys::level.Get(pending[1]), EML_Error);
	ILoggerBagKeys::source.Get(pending[1], source);
	EXPECT_EQ(to_string(source), "engine");
	int64 second = 0;
	ILoggerBagKeys::sequence.Get(pending[1], second);
	EXPECT_GT(second, first);
	for (const VValueBag* bag : pending)
		bag->Release();
}

TEST(VLoggerTest, RingListenersAndTheReaderTask)
{
	RecordingListener older;  // both outlive the logger, which holds them
	RecordingListener newer;
	VRefPtr<VLogger> logger(new VLogger, true);
	logger->Start();
	// 1001 bags without a flush: the first is dropped (and released) when the last takes its slot.
	VRefPtr<VValueBag> firstBag = MessageBag("0");
	logger->LogBag(firstBag.Get());
	for (int i = 1; i <= VLogger::kRingSize; ++i)
		logger->LogBag(MessageBag(std::to_string(i).c_str()).Get());
	EXPECT_EQ(firstBag->GetRefCount(), 1);

	EXPECT_FALSE(logger->AddLogListener(nullptr));
	// The first listener starts the "Logger" task, which may flush at once: the batch is looked at after.
	EXPECT_TRUE(logger->AddLogListener(&older));
	EXPECT_FALSE(logger->AddLogListener(&older));
	EXPECT_EQ(older.GetRefCount(), 2);
	EXPECT_TRUE(logger->AddLogListener(&newer));
	logger->Flush();
	{
		// The batch opens with the line about the dropped bag.
		std::lock_guard<std::mutex> guard(older.fMutex);
		ASSERT_EQ(older.fMessages.size(), size_t(VLogger::kRingSize) + 1);
		EXPECT_EQ(older.fMessages[0].substr(0, 27), "1 log messages were dropped");
		EXPECT_EQ(older.fMessages[1], "1");
		EXPECT_EQ(older.fMessages.back(), "1000");
		EXPECT_TRUE(std::is_sorted(older.fSequences.begin() + 1, older.fSequences.end()));
	}
	// The second listener has the batch only when it came before the task's first flush.
	EXPECT_TRUE(newer.Count() == 0 || newer.Count() == size_t(VLogger::kRingSize) + 1) << newer.Count();
	const size_t before = newer.Count();

	// The task flushes on its own; a listener that logs from Put does not block the logger.
	older.fLogger = logger.Get();
	logger->LogMessage(EML_Warning, VString("late"), VString("test"));
	for (int i = 0; i < 500 && newer.Count() < before + 2; ++i)
		VTask::Sleep(10);
	EXPECT_GE(newer.Count(), before + 1);
	older.fLogger = nullptr;

	EXPECT_TRUE(logger->RemoveLogListener(&older));
	EXPECT_FALSE(logger->RemoveLogListener(&older));
	EXPECT_EQ(older.GetRefCount(), 1);
	logger.Clear();  // stops the task before the listeners go
	EXPECT_EQ(newer.GetRefCount(), 1);
}

TEST(VLoggerTest, TheReaderTaskLeavesTheProcessIdle)
{
	// The process's logger runs its "Logger" task from Init on; with the main task it is all there is.
	VProcess* process = VProcess::sInstance;
	ASSERT_NE(process, nullptr);
	ASSERT_NE(process->GetLogger(), nullptr);
	bool idle = false;
	for (int i = 0; i < 500 && !idle; ++i)
	{
		idle = !process->HasSomeActivityTokens(0);
		if (!idle)
			VTask::Sleep(10);
	}
	EXPECT_TRUE(idle);
}

// Bags beyond the ring's 1000 between two flushes are dropped, oldest first, and the next batch opens with
// one WARN line that gives their number; the batch after that has none.
TEST(VLoggerTest, DroppedBagsAreToldByTheNextBatch)
{
	struct Row
	{
		int logged;
		int dropped;
	};
	const Row rows[] = {{1, 0}, {VLogger::kRingSize, 0}, {VLogger::kRingSize + 1, 1}, {2 * VLogger::kRingSize + 500, VLogger::kRingSize + 500}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.logged);
		VLogger logger;
		logger.Start();
		for (int i = 0; i < row.logged; ++i)
			logger.LogBag(MessageBag(std::to_string(i).c_str()).Get());
		std::vector<const VValueBag*> bags;
		logger.Read(bags);
		const size_t told = row.dropped > 0 ? 1 : 0;
		ASSERT_EQ(bags.size(), size_t(row.logged - row.dropped) + told);
		VString text;
		if (told != 0)
		{
			EXPECT_EQ(ILoggerBagKeys::level.Get(bags[0]), EML_Warning);
			ILoggerBagKeys::message.Get(bags[0], text);
			EXPECT_EQ(to_string(text), std::to_string(row.dropped) + " log messages were dropped: more arrived between two flushes than the logger holds");
			EXPECT_NE(bags[0]->GetAttribute(ILoggerBagKeys::time), nullptr);
			EXPECT_NE(bags[0]->GetAttribute(ILoggerBagKeys::sequence), nullptr);
		}
		// The newest bags, in the order they came.
		ILoggerBagKeys::message.Get(bags[told], text);
		EXPECT_EQ(to_string(text), std::to_string(row.dropped));
		ILoggerBagKeys::message.Get(bags.back(), text);
		EXPECT_EQ(to_string(text), std::to_string(row.logged - 1));
		for (const VValueBag* bag : bags)
			bag->Release();

		logger.LogBag(MessageBag("after").Get());
		logger.Read(bags);
		ASSERT_EQ(bags.size(), 1u);
		ILoggerBagKeys::message.Get(bags[0], text);
		EXPECT_EQ(to_string(text), "after");
		bags[0]->Release();
	}
}

// Counts the bags it receives and lets a test wait for a count.
class CountingListener : public ILogListener
{
public:
	void Put(const std::vector<const VValueBag*>& bags) override
	{
		std::lock_guard<std::mutex> guard(fMutex);
		fCount += bags.size();
		fChanged.notify_all();
	}
	bool WaitFor(size_t count, std::chrono::milliseconds limit)
	{
		std::unique_lock<std::mutex> lock(fMutex);
		return fChanged.wait_for(lock, limit, [&] { return fCount >= count; });
	}

	std::mutex fMutex;
	std::condition_variable fChanged;
	size_t fCount = 0;
};

// The bag that fills the ring to kWakeCount wakes the "Logger" task, which would otherwise flush only every
// 100 ms. Each round waits for its batch before the next begins, so that without the wake every round but
// the first would wait for a tick of its own: the rounds together would take at least kRounds - 1 ticks.
TEST(VLoggerTest, AFillingRingWakesTheLoggerTask)
{
	CountingListener listener;  // outlives the logger, which holds it
	VRefPtr<VLogger> logger(new VLogger, true);
	logger->Start();
	logger->AddLogListener(&listener);
	constexpr int kRounds = 30;
	const auto start = std::chrono::steady_clock::now();
	for (int round = 1; round <= kRounds; ++round)
	{
		for (int i = 0; i < VLogger::kWakeCount; ++i)
			logger->LogBag(MessageBag("m").Get());
		ASSERT_TRUE(listener.WaitFor(size_t(round) * VLogger::kWakeCount, std::chrono::seconds(10))) << round;
	}
	const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
	EXPECT_LT(elapsed.count(), (kRounds - 2) * 100) << "the rounds waited for the 100 ms ticks";
	// Fewer than kWakeCount bags wait for the tick, and arrive with it.
	logger->LogBag(MessageBag("m").Get());
	EXPECT_TRUE(listener.WaitFor(size_t(kRounds) * VLogger::kWakeCount + 1, std::chrono::seconds(10)));
}

TEST(VLoggerTest, ErrorAndAssertionBags)
{
	VLogger logger;
	logger.Start();
	VErrorBase error(MakeVError(FourCharCode("UPRy"), 41));
	error.SetDescription(VString("the bundle is locked"));
	logger.LogErrorIfNecessary(&error);
	logger.LogAssertIfNecessary("count > 0", "/src/updater/VUpdateEngine.cpp", 120);  // ASSERT is off
	logger.WithAssert(true);
	logger.LogAssertIfNecessary("count > 0", "/src/updater/VUpdateEngine.cpp", 120);
	std::vector<const VValueBag*> bags;
	logger.Read(bags);
	ASSERT_EQ(bags.size(), 2u);

	EXPECT_EQ(ILoggerBagKeys::level.Get(bags[0]), EML_Error);
	uint64 code = 0;
	EXPECT_TRUE(ILoggerBagKeys::error_code.Get(bags[0], code));
	EXPECT_EQ(code, error.GetCode());
	uint32 signature = 0;
	EXPECT_TRUE(ILoggerBagKeys::component_signature.Get(bags[0], signature));
	EXPECT_EQ(signature, FourCharCode("UPRy"));
	VString text;
	ILoggerBagKeys::message.Get(bags[0], text);
	EXPECT_EQ(to_string(text), "the bundle is locked");

	EXPECT_EQ(ILoggerBagKeys::level.Get(bags[1]), EML_Assert);
	ILoggerBagKeys::file_name.Get(bags[1], text);
	EXPECT_EQ(to_string(text), "VUpdateEngine.cpp");
	int32 line = 0;
	ILoggerBagKeys::line_number.Get(bags[1], line);
	EXPECT_EQ(line, 120);
	EXPECT_TRUE(ILoggerBagKeys::stack_crawl.Get(bags[1], text));
	for (const VValueBag* bag : bags)
		bag->Release();
}

TEST(VLoggerTest, StackCrawlsOnOneLine)
{
	struct Row
	{
		const char* crawl;
		const char* simple;
	};
	const Row rows[] = {
		{"   {1} 0x00401000 - velk::VUpdateEngine::DoRun(velk::VString const&) const\n   {0} 0x00402000 - main\n",
		 "   {1} 0x00401000 - VUpdateEngine::DoRun <-    {0} 0x00402000 - main"},
		{"non-virtual thunk to velk::VLogger::Flush()", "VLogger::Flush"},
		{"f) then (g", "f) then (g"},  // ')' before '(' stays
		{"", ""},
	};
	for (const Row& row : rows)
	{
		VString simple;
		ILogger::SimplifyStackCrawl(VString(row.crawl), simple);
		EXPECT_EQ(to_string(simple), row.simple) << row.crawl;
	}
}

TEST(VLoggerTest, ManyThreadsLogEveryBagOnce)
{
	RecordingListener listener;  // outlives the logger, which holds it
	VRefPtr<VLogger> logger(new VLogger, true);
	logger->Start();
	logger->AddLogListener(&listener);
	constexpr int kThreads = 16;
	constexpr int kBags = 50;
	std::vector<std::thread> threads;
	for (int t = 0; t < kThreads; ++t)
	{
		threads.emplace_back([&logger] {
			for (int i = 0; i < kBags; ++i)
			{
				logger->LogBag(MessageBag("m").Get());
				if (i % 10 == 0)
					logger->Flush();  // concurrent flushers deliver in age order
			}
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	logger->Flush();
	std::lock_guard<std::mutex> guard(listener.fMutex);
	ASSERT_EQ(listener.fSequences.size(), size_t(kThreads * kBags));
	EXPECT_EQ(std::set<int64>(listener.fSequences.begin(), listener.fSequences.end()).size(), size_t(kThreads * kBags));
}

}  // namespace
}  // namespace velk
