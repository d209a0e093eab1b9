// The file logger: the exact bytes of its lines, the numbered files it resumes in, splitting and rotation,
// files children do not inherit, stopping while the process logger flushes into it, and one file written by
// two loggers or two processes at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/VChildProcess.h"
#include "common/VScopedSystemZone.h"
#include "common/VTemporaryFolderTest.h"
#include "containers/VValueBag.h"
#include "files/VFolder.h"
#include "runtime/VLog4jMsgFileLogger.h"
#include "runtime/VProcess.h"
#include "runtime/VSplitableLogFile.h"

namespace velk {
namespace {

constexpr uint64 kUPRy101 = (uint64(FourCharCode("UPRy")) << 32) | 101;

class VLog4jMsgFileLoggerTest : public test::VTemporaryFolderTest
{
protected:
	VRefPtr<VFolder> Folder() const { return VRefPtr<VFolder>(new VFolder(VString(fRoot.c_str()), FPS_POSIX), true); }

	bool Exists(const std::string& name) const { return std::filesystem::exists(fRoot + name); }

	// A file last changed an hour ago, as one left by an earlier run.
	void Age(const std::string& name) const
	{
		const auto path = std::filesystem::path(fRoot + name);
		std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::hours(1));
	}

	// The lines of the files "<name>_<n>.txt" there are, by number: their bytes without the holes that
	// Extended made (the zeros of a sparse file, which stand for other writers' lines).
	std::map<int, std::string> ReadNumbered(const std::string& name) const
	{
		std::map<int, std::string> files;
		for (const auto& entry : std::filesystem::directory_iterator(fRoot))
		{
			const std::string file = entry.path().filename().string();
			if (file.rfind(name + "_", 0) != 0 || file.size() <= name.size() + 5 || file.substr(file.size() - 4) != ".txt")
				continue;
			std::string& content = files[std::stoi(file.substr(name.size() + 1))];
			const int descriptor = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
			if (descriptor < 0)
				continue;
			const off_t end = ::lseek(descriptor, 0, SEEK_END);
			for (off_t at = 0; at < end;)
			{
				const off_t data = ::lseek(descriptor, at, SEEK_DATA);
				if (data < 0)
					break;
				const off_t hole = std::min(end, ::lseek(descriptor, data, SEEK_HOLE));
				std::string chunk(size_t(hole - data), '\0');
				chunk.resize(size_t(std::max<ssize_t>(0, ::pread(descriptor, chunk.data(), chunk.size(), data))));
				chunk.erase(std::remove(chunk.begin(), chunk.end(), '\0'), chunk.end());
				content += chunk;
				at = hole > data ? hole : end;
			}
			::close(descriptor);
		}
		return files;
	}

	// The file made past the split size with a hole at its end, as if other writers had filled it.
	void Extended(const std::string& name) const
	{
		const std::string path = fRoot + name;
		std::filesystem::resize_file(path, std::max<uintmax_t>(std::filesystem::file_size(path), VSplitableLogFile::kSplitPosition));
	}

	// Files of that size, sparse, so that files past the split size cost no writing.
	void Sized(const std::string& name, uintmax_t size) const
	{
		Write(name, "");
		std::filesystem::resize_file(fRoot + name, size);
	}
};

// Two logs of one name that split one after the other: the second keeps the lines the first has already
// written to the next number, and a leftover older than both is emptied by the first.
TEST_F(VLog4jMsgFileLoggerTest, LoggersSharingAFileSplitWithoutLosingLines)
{
	Sized("t_1.txt", VSplitableLogFile::kSplitPosition - 1);
	Write("t_2.txt", "stale\n");
	Age("t_2.txt");
	VSplitableLogFile first(Folder().Get(), VString("t"), 1, false);
	VSplitableLogFile second(Folder().Get(), VString("t"), 1, false);
	ASSERT_TRUE(first.Open(false));
	ASSERT_TRUE(second.Open(false));
	first.AppendString("a\n");
	first.Flush();
	second.AppendString("b\n");
	second.Flush();
	first.AppendString("first\n");
	first.Flush();
	second.AppendString("second\n");
	second.Close();
	first.AppendString("first again\n");
	first.Close();
	EXPECT_EQ(first.GetLogNumber(), 2);
	EXPECT_EQ(second.GetLogNumber(), 2);
	EXPECT_EQ(Read("t_2.txt"), "first\nsecond\nfirst again\n");
}

// A bag stamped as the process logger stamps it, with a fixed time and sequence.
VRefPtr<VValueBag> StampedBag(const std::function<void(VValueBag*)>& fill, int16 ms = 10)
{
	VRefPtr<VValueBag> bag(new VValueBag, true);
	fill(bag.Get());
	VTime time;
	time.FromUTCTime(2024, 3, 4, 22, 8, 9, ms);
	ILoggerBagKeys::time.Set(bag.Get(), time);
	ILoggerBagKeys::sequence.Set(bag.Get(), 42);
	return bag;
}

TEST_F(VLog4jMsgFileLoggerTest, LineBytes)
{
	// Nine hours east of UTC: the line carries local time without an offset.
	test::ScopedSystemZone zone(kZoneJapan);
	VString identifier;
	VProcess::GetLogSourceIdentifier(identifier);
	const std::string process = to_string(identifier);
	const std::string stamp = "42 2024-03-05T07:08:09.010 ";
	struct Row
	{
		const char* name;
		std::function<void(VValueBag*)> fill;
		uint32 mask;
		std::string expected;  // empty: nothing written
		int16 ms = 10;
	};
	const Row rows[] = {
		{"message only", [](VValueBag* b) {
			ILoggerBagKeys::message.Set(b, VString("hello"));
			ILoggerBagKeys::source.Set(b, VString("src")); },
			0xF0, stamp + "[src] INFO - hello ()\n"},
		{"error code without signature", [](VValueBag* b) {
			ILoggerBagKeys::source.Set(b, VString("src"));
			ILoggerBagKeys::level.Set(b, EML_Error);
			ILoggerBagKeys::error_code.Set(b, kUPRy101);
			ILoggerBagKeys::message.Set(b, VString("failed")); },
			0xF0, stamp + "[src.UPRy] ERROR - [101] failed ()\n"},
		{"signature given wins over the code's", [](VValueBag* b) {
			ILoggerBagKeys::source.Set(b, VString("src"));
			ILoggerBagKeys::component_signature.Set(b, FourCharCode("RyUP"));
			ILoggerBagKeys::error_code.Set(b, kUPRy101); },
			0xF0, stamp + "[src.RyUP] INFO - [101]  ()\n"},
		{"signature 0 names none", [](VValueBag* b) {
			ILoggerBagKeys::source.Set(b, VString("src"));
			ILoggerBagKeys::component_signature.Set(b, 0);
			ILoggerBagKeys::error_code.Set(b, kUPRy101); },
			0xF0, stamp + "[src] INFO - [101]  ()\n"},
		{"no point after an empty source", [](VValueBag* b) {
			ILoggerBagKeys::source.Set(b, VString(""));
			ILoggerBagKeys::error_code.Set(b, (kUPRy101 | 0xFFFFFFFFull));
			ILoggerBagKeys::message.Set(b, VString("m")); },
			0xF0, stamp + "[UPRy] INFO - [-1] m ()\n"},
		{"source from the process", [](VValueBag* b) { ILoggerBagKeys::message.Set(b, VString("m")); },
			0xF0, stamp + "[" + process + "] INFO - m ()\n"},
		{"labels in attribute order, lines joined", [](VValueBag* b) {
			ILoggerBagKeys::task_name.Set(b, VString("main"));
			ILoggerBagKeys::message.Set(b, VString("two\nlines stay"));
			ILoggerBagKeys::source.Set(b, VString("src"));
			ILoggerBagKeys::stack_crawl.Set(b, VString("a()\nb()"));
			ILoggerBagKeys::jobId.Set(b, VString("j1"));
			ILoggerBagKeys::task_id.Set(b, 7);
			ILoggerBagKeys::is_ssl.Set(b, true); },
			0xF0, stamp + "[src] INFO - two\nlines stay (taskName=main, stackCrawl=a() ; b(), jobId=j1, task=7, SSL=true)\n"},
		{"another millisecond of the same second", [](VValueBag* b) { ILoggerBagKeys::source.Set(b, VString("src")); },
			0xF0, "42 2024-03-05T07:08:09.987 [src] INFO -  ()\n", 987},
		{"debug dropped by the default mask", [](VValueBag* b) { ILoggerBagKeys::level.Set(b, EML_Debug); }, 0xF0, ""},
		{"level 9 with its bit is INFO", [](VValueBag* b) {
			ILoggerBagKeys::source.Set(b, VString("src"));
			ILoggerBagKeys::level.Set(b, 9); },
			0xF0 | (1u << 9), stamp + "[src] INFO -  ()\n"},
		{"level 41 tests bit 9", [](VValueBag* b) {
			ILoggerBagKeys::source.Set(b, VString("src"));
			ILoggerBagKeys::level.Set(b, 41); },
			1u << 9, stamp + "[src] INFO -  ()\n"},
		{"level 9 without its bit", [](VValueBag* b) { ILoggerBagKeys::level.Set(b, 9); }, 0xF0, ""},
	};
	VLog4jMsgFileLogger logger(Folder().Get(), VString("lines"));
	logger.Start();
	ASSERT_TRUE(logger.IsStarted());
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		logger.SetLevelMask(row.mask);
		const size_t before = Read("lines_1.txt").size();
		const VRefPtr<VValueBag> bag = StampedBag(row.fill, row.ms);
		logger.GetLogListener().Put(std::vector<const VValueBag*>{bag.Get()});
		EXPECT_EQ(Read("lines_1.txt").substr(before), row.expected);
	}
	logger.Stop();
}

TEST_F(VLog4jMsgFileLoggerTest, ThroughTheProcessLoggerAndStop)
{
	ILogger* process = VProcess::sInstance->GetLogger();
	ASSERT_NE(process, nullptr);
	VLog4jMsgFileLogger logger(Folder().Get(), VString("flow"));
	logger.Start();
	process->LogMessage(EML_Information, VString("hello"), VString("src"));
	process->LogMessage(EML_Debug, VString("dropped"), VString("src"));
	// Stop detaches first, which flushes the pending line into the file.
	logger.Stop();
	EXPECT_FALSE(logger.IsStarted());
	process->LogMessage(EML_Information, VString("after stop"), VString("src"));
	process->Flush();
	const std::string content = Read("flow_1.txt");
	unsigned long long sequence = 0;
	int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0, end = 0;
	ASSERT_EQ(std::sscanf(content.c_str(), "%llu %4d-%2d-%2dT%2d:%2d:%2d.%3d%n", &sequence, &year, &month, &day, &hour,
				  &minute, &second, &ms, &end), 8) << content;
	EXPECT_GT(sequence, 0u);
	EXPECT_EQ(content.substr(size_t(end)), " [src] INFO - hello ()\n");
}

TEST_F(VLog4jMsgFileLoggerTest, ResumesInTheHighestNumber)
{
	const std::string name = "2024-03-05_07-08-09_log";
	VString built;
	VLog4jMsgFileLogger::BuildLogFileName(VString(name.c_str()), 1, built);
	EXPECT_EQ(to_string(built), name + "_1.txt");
	struct Row
	{
		const char* name;
		int first;
		int last;  // files first..last exist, each holding "old\n"; none when 0
		std::vector<std::string> strays;
		int written;
	};
	const Row rows[] = {
		{"none", 0, 0, {}, 1},
		{"one to three", 1, 3, {}, 3},
		{"rotation removed the first", 2, 51, {}, 51},
		{"names that are not the log's", 1, 2, {"_07.txt", "_9.log", "_12a.txt", "x_40.txt"}, 2},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::filesystem::remove_all(fRoot);
		std::filesystem::create_directory(fRoot);
		for (int n = row.first; row.last > 0 && n <= row.last; ++n)
			Write(name + "_" + std::to_string(n) + ".txt", "old\n");
		for (const std::string& stray : row.strays)
			Write(name + stray, "stray\n");
		VLog4jMsgFileLogger logger(Folder().Get(), VString(name.c_str()));
		logger.Start();
		ASSERT_TRUE(logger.IsStarted());
		EXPECT_EQ(logger.GetLogMaxNumberToKeep(), 50);
		const std::string file = name + "_" + std::to_string(row.written) + ".txt";
		// The stream is close-on-exec: the launched application never holds the log open.
		bool found = false;
		for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
		{
			std::error_code error;
			if (std::filesystem::read_symlink(entry.path(), error) == fRoot + file)
			{
				found = true;
				EXPECT_NE(fcntl(std::stoi(entry.path().filename().string()), F_GETFD) & FD_CLOEXEC, 0);
			}
		}
		EXPECT_TRUE(found);
		const VRefPtr<VValueBag> bag = StampedBag([](VValueBag* b) { ILoggerBagKeys::message.Set(b, VString("new")); });
		logger.GetLogListener().Put(std::vector<const VValueBag*>{bag.Get()});
		logger.Stop();
		const std::string content = Read(file);
		EXPECT_EQ(content.substr(0, row.last > 0 ? 4 : 0), row.last > 0 ? "old\n" : "");
		EXPECT_NE(content.find("new ()\n"), std::string::npos) << content;
	}
}

// A log on a full disk says so: the first write error is kept, so its user never points anyone to a file
// that holds none of the lines.
TEST_F(VLog4jMsgFileLoggerTest, FullDiskIsReported)
{
	if (::access("/dev/full", W_OK) != 0)
		GTEST_SKIP() << "no /dev/full";
	struct Row
	{
		const char* name;
		bool full;
	};
	for (const Row& row : {Row{"room", false}, Row{"full disk", true}})
	{
		SCOPED_TRACE(row.name);
		std::filesystem::remove_all(fRoot);
		std::filesystem::create_directory(fRoot);
		// The log's first file stands for a disk with no room left.
		if (row.full)
			std::filesystem::create_symlink("/dev/full", fRoot + "full_1.txt");
		VLog4jMsgFileLogger logger(Folder().Get(), VString("full"));
		logger.Start();
		ASSERT_TRUE(logger.IsStarted());
		EXPECT_EQ(logger.GetWriteError(), 0);
		const VRefPtr<VValueBag> bag = StampedBag([](VValueBag* b) { ILoggerBagKeys::message.Set(b, VString("line")); });
		logger.GetLogListener().Put(std::vector<const VValueBag*>{bag.Get()});
		logger.Flush();
		EXPECT_EQ(logger.GetWriteError(), row.full ? ENOSPC : 0);
		logger.Stop();
	}
}

TEST_F(VLog4jMsgFileLoggerTest, SplitsPastTenMebibytes)
{
	struct Row
	{
		const char* name;
		uintmax_t size;  // of file 1 before it is reopened for appending; written through the log when 0
		bool split;
	};
	const Row rows[] = {
		{"reopened at ten mebibytes", 0xA00000, false},
		{"reopened one byte past", 0xA00001, true},
		{"written to one byte past", 0, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::filesystem::remove_all(fRoot);
		std::filesystem::create_directory(fRoot);
		VSplitableLogFile log(Folder().Get(), VString("s"), 1, false);
		if (row.size > 0)
		{
			Sized("s_1.txt", row.size);
			ASSERT_TRUE(log.Open(false));
		}
		else
		{
			ASSERT_TRUE(log.Open(true));
			log.AppendString(std::string(0xA00001, 'x').c_str());
		}
		log.AppendString("next\n");
		log.Close();
		EXPECT_EQ(log.GetLogNumber(), row.split ? 2 : 1);
		EXPECT_EQ(Read("s_2.txt"), row.split ? "next\n" : "");
		EXPECT_EQ(std::filesystem::file_size(fRoot + "s_1.txt"), row.split ? 0xA00001 : 0xA00005);
	}
}

TEST_F(VLog4jMsgFileLoggerTest, RotationKeepsTheNewest)
{
	struct Row
	{
		int32 from;
		int32 keep;
		int deleted;  // 0: none
	};
	const Row rows[] = {{49, 50, 0}, {50, 50, 1}, {50, 0, 0}, {50, -1, 0}, {7, 3, 5}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << row.from << " keeping " << row.keep);
		std::filesystem::remove_all(fRoot);
		std::filesystem::create_directory(fRoot);
		for (int n = 1; n < row.from; ++n)
			Write("r_" + std::to_string(n) + ".txt", "");
		Sized("r_" + std::to_string(row.from) + ".txt", VSplitableLogFile::kSplitPosition);
		// A leftover of the next number, from before the log was opened, is truncated.
		Write("r_" + std::to_string(row.from + 1) + ".txt", "stale\n");
		Age("r_" + std::to_string(row.from + 1) + ".txt");
		VSplitableLogFile log(Folder().Get(), VString("r"), row.from, false);
		log.SetMaxLogsToKeep(row.keep);
		ASSERT_TRUE(log.Open(false));
		log.AppendString("line\n");
		log.Close();
		EXPECT_EQ(Read("r_" + std::to_string(row.from + 1) + ".txt"), "line\n");
		for (int n = 1; n <= row.from; ++n)
			EXPECT_EQ(Exists("r_" + std::to_string(n) + ".txt"), n != row.deleted) << n;
	}
}

// Holds the flushing thread, with the process logger's locks taken, just before it reaches the listeners
// added before this one: a Stop that took its own lock first would meet that thread coming the other way.
class HoldingListener : public ILogListener
{
public:
	void Put(const std::vector<const VValueBag*>&) override
	{
		fInside.store(true);
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
	std::atomic<bool> fInside{false};
};

TEST_F(VLog4jMsgFileLoggerTest, StopWhileFlushing)
{
	ILogger* process = VProcess::sInstance->GetLogger();
	ASSERT_NE(process, nullptr);
	for (int round = 0; round < 50; ++round)
	{
		SCOPED_TRACE(round);
		const std::string name = "stress" + std::to_string(round);
		VLog4jMsgFileLogger logger(Folder().Get(), VString(name.c_str()));
		logger.Start();
		HoldingListener holding;
		ASSERT_TRUE(process->AddLogListener(&holding));
		std::atomic<int> logged{0};
		std::atomic<bool> stop{false};
		// Logs and flushes on its own thread while the "Logger" task flushes too.
		std::thread producer([&] {
			for (int i = 0; !stop.load(); ++i)
			{
				process->LogMessage(EML_Information, VString(("m" + std::to_string(i)).c_str()), VString("src"));
				logged.store(i + 1);
				if (i % 7 == 0)
					process->Flush();
			}
		});
		while (logged.load() < 20 || !holding.fInside.load())
			std::this_thread::yield();
		const int before = logged.load();
		logger.Stop();
		stop.store(true);
		producer.join();
		process->RemoveLogListener(&holding);
		const std::string content = Read(name + "_1.txt");
		for (int i = 0; i < before; ++i)
			ASSERT_NE(content.find("INFO - m" + std::to_string(i) + " ()\n"), std::string::npos) << i;
	}
}

// What a file written by several writers of numbered lines holds: its lines, each that is exactly a line one
// writer made ("[<tag>] INFO - <tag> <i> <padding> ()" after the sequence and the time), and the numbers
// each tag wrote.
struct SharedLines
{
	size_t lines = 0;
	std::vector<std::string> broken;
	std::map<std::string, std::multiset<int>, std::less<>> numbers;
};

// Adds what content holds to read.
void AddSharedLines(SharedLines& read, const std::string& content, const std::string& padding)
{
	size_t start = 0;
	while (start < content.size())
	{
		const size_t end = content.find('\n', start);
		const std::string_view line = std::string_view(content).substr(start, end == std::string::npos ? std::string::npos : end - start);
		start = end == std::string::npos ? content.size() : end + 1;
		++read.lines;
		// The head alone, so that the scan never reads past the line.
		char head[64] = {};
		line.copy(head, std::min(line.size(), sizeof(head) - 1));
		unsigned long long sequence = 0;
		int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0, headLength = -1;
		const size_t open = line.find(" [");
		const size_t close = line.find("] INFO - ");
		bool whole = end != std::string::npos && open != std::string::npos && close != std::string::npos && open < close
			&& std::sscanf(head, "%llu %4d-%2d-%2dT%2d:%2d:%2d.%3d%n", &sequence, &year, &month, &day, &hour, &minute,
				   &second, &ms, &headLength) == 8 && size_t(headLength) == open;
		if (whole)
		{
			const std::string_view tag = line.substr(open + 2, close - open - 2);
			const std::string_view rest = line.substr(close + 9);
			const std::string digits(rest.substr(std::min(rest.size(), tag.size() + 1), 12));
			const int number = std::atoi(digits.c_str());
			// "<tag> <number> <padding> ()"
			const std::string prefix = std::string(tag) + " " + std::to_string(number) + " ";
			whole = rest.size() == prefix.size() + padding.size() + 3 && rest.substr(0, prefix.size()) == prefix
				&& rest.substr(prefix.size(), padding.size()) == padding && rest.substr(rest.size() - 3) == " ()";
			if (whole)
			{
				auto found = read.numbers.find(tag);
				if (found == read.numbers.end())
					found = read.numbers.emplace(std::string(tag), std::multiset<int>()).first;
				found->second.insert(number);
			}
		}
		if (!whole)
			read.broken.emplace_back(line);
	}
}

SharedLines ReadSharedLines(const std::string& content, const std::string& padding)
{
	SharedLines result;
	AddSharedLines(result, content, padding);
	return result;
}

// Each tag wrote its count of lines, numbered 0 to count - 1, each once, and nothing else is in the file.
void ExpectEveryLineOnce(const SharedLines& read, const std::vector<std::pair<std::string, int>>& counts)
{
	size_t total = 0;
	for (const auto& [tag, count] : counts)
		total += size_t(count);
	EXPECT_EQ(read.lines, total);
	EXPECT_TRUE(read.broken.empty()) << read.broken.size() << " broken, the first: " << read.broken.front();
	for (const auto& [tag, count] : counts)
	{
		SCOPED_TRACE(tag);
		const auto found = read.numbers.find(tag);
		ASSERT_NE(found, read.numbers.end());
		const std::multiset<int>& numbers = found->second;
		EXPECT_EQ(numbers.size(), size_t(count));
		int missing = 0;
		for (int i = 0; i < count; ++i)
			missing += numbers.count(i) == 0 ? 1 : 0;
		EXPECT_EQ(missing, 0) << "of " << count;
		for (int i = 0; i < count; ++i)
			ASSERT_LE(numbers.count(i), 1u) << i;
	}
}

void ExpectEveryLineOnce(const SharedLines& read, const std::vector<std::string>& tags, int count)
{
	std::vector<std::pair<std::string, int>> counts;
	for (const std::string& tag : tags)
		counts.emplace_back(tag, count);
	ExpectEveryLineOnce(read, counts);
}

// Lines "<tag> <i> <padding>" for i from first to first + count - 1, through the logger's listener in
// batches of batch lines, each batch written as the process logger's task would.
void PutNumbered(VLog4jMsgFileLogger& logger, const std::string& tag, int first, int count, int batch, const std::string& padding)
{
	std::vector<VRefPtr<VValueBag>> bags;
	std::vector<const VValueBag*> pointers;
	const VString source(tag.c_str());
	std::string message;
	for (int i = first; i < first + count; ++i)
	{
		message.assign(tag).append(" ").append(std::to_string(i)).append(" ").append(padding);
		bags.push_back(StampedBag([&](VValueBag* b) {
			ILoggerBagKeys::source.Set(b, source);
			ILoggerBagKeys::message.Set(b, VString(message.c_str()));
		}));
		pointers.push_back(bags.back().Get());
		if (int(pointers.size()) == batch || i + 1 == first + count)
		{
			logger.GetLogListener().Put(pointers);
			pointers.clear();
			bags.clear();
		}
	}
}

// Two loggers of one name in one folder, as two made within the same second are, write one file from two
// threads, in batches far longer than a line: every line arrives whole and once.
TEST_F(VLog4jMsgFileLoggerTest, TwoLoggersShareAFile)
{
	constexpr int kLines = 2000;
	const std::string padding(120, '.');
	VLog4jMsgFileLogger first(Folder().Get(), VString("shared"));
	VLog4jMsgFileLogger second(Folder().Get(), VString("shared"));
	first.Start();
	second.Start();
	ASSERT_TRUE(first.IsStarted() && second.IsStarted());
	std::atomic<int> ready{0};
	auto write = [&](VLog4jMsgFileLogger& logger, const std::string& tag) {
		std::vector<VRefPtr<VValueBag>> bags;
		for (int i = 0; i < kLines; ++i)
		{
			bags.push_back(StampedBag([&](VValueBag* b) {
				ILoggerBagKeys::source.Set(b, VString(tag.c_str()));
				ILoggerBagKeys::message.Set(b, VString((tag + " " + std::to_string(i) + " " + padding).c_str()));
			}));
		}
		ready.fetch_add(1);
		while (ready.load() < 2)
			std::this_thread::yield();
		std::vector<const VValueBag*> batch;
		for (int i = 0; i < kLines; ++i)
		{
			batch.push_back(bags[size_t(i)].Get());
			// Batches of 1 to 97 lines: the longest pass a stdio buffer's 4 KiB and the logger's 64 KiB.
			if (batch.size() == size_t(1 + (i * 7) % 97) || i + 1 == kLines)
			{
				logger.GetLogListener().Put(batch);
				batch.clear();
			}
		}
	};
	std::thread one([&] { write(first, "one"); });
	std::thread two([&] { write(second, "two"); });
	one.join();
	two.join();
	first.Stop();
	second.Stop();
	ExpectEveryLineOnce(ReadSharedLines(Read("shared_1.txt"), padding), {"one", "two"}, kLines);
	EXPECT_FALSE(Exists("shared_2.txt"));
}

// The same from two processes, started together on one folder.
TEST_F(VLog4jMsgFileLoggerTest, TwoProcessesShareAFile)
{
	constexpr int kBound = 60000;
	constexpr int kLines = 2000;
	const std::string go = fRoot + "go";
	std::vector<std::unique_ptr<test::VChildProcess>> children;
	for (const char* tag : {"alpha", "beta"})
	{
		children.push_back(std::make_unique<test::VChildProcess>(VELK_PROCESS_PROBE_FILE,
			std::vector<std::string>{"filelog", fRoot, "shared", tag, std::to_string(kLines), go}));
		ASSERT_TRUE(children.back()->Start());
	}
	for (const auto& child : children)
		ASSERT_TRUE(child->WaitForOutput("ready\n", kBound)) << child->GetErrors();
	Write("go", "");
	for (const auto& child : children)
	{
		const int status = child->Wait(kBound);
		EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << child->GetErrors();
		EXPECT_NE(child->GetOutput().find("written\n"), std::string::npos) << child->GetOutput();
	}
	ExpectEveryLineOnce(ReadSharedLines(Read("shared_1.txt"), std::string(120, '.')), {"alpha", "beta"}, kLines);
}

// Lines wait for the end of their batch and go out in order; a text longer than what may wait goes at once,
// after what waits. What another writer adds to the file counts towards its split from the next look.
TEST_F(VLog4jMsgFileLoggerTest, BatchesAndOtherWritersGrowth)
{
	VSplitableLogFile log(Folder().Get(), VString("b"), 1, false);
	ASSERT_TRUE(log.Open(true));
	log.AppendString("one\n");
	log.AppendString("two\n");
	EXPECT_EQ(Read("b_1.txt"), "");
	log.Flush();
	EXPECT_EQ(Read("b_1.txt"), "one\ntwo\n");
	const std::string longText = std::string(VSplitableLogFile::kPendingCapacity + 1, 'l') + "\n";
	log.AppendString("three\n");
	log.AppendString(longText.c_str());
	EXPECT_EQ(Read("b_1.txt"), "one\ntwo\nthree\n" + longText);

	// Another writer takes the file past the split size; this one learns it at its next look, here the one
	// before a text too long to wait, and its next line opens the next number.
	std::filesystem::resize_file(fRoot + "b_1.txt", VSplitableLogFile::kSplitPosition);
	const std::string quarter = std::string(256 * 1024, 'q') + "\n";
	log.AppendString(quarter.c_str());
	EXPECT_EQ(log.GetLogNumber(), 1);
	log.AppendString("next\n");
	log.Close();
	EXPECT_EQ(log.GetLogNumber(), 2);
	EXPECT_EQ(Read("b_2.txt"), "next\n");
	EXPECT_EQ(log.GetWriteError(), 0);
}

// A logger that lags: it wrote one line to file 1, then another of its name went on to file 4. When the
// first writes again it passes through files 2 and 3, which hold the other's lines: they stay, and every
// line of both is in the files once.
TEST_F(VLog4jMsgFileLoggerTest, LaggingLoggerKeepsTheFilesItPasses)
{
	const std::string padding(960, '.');
	VLog4jMsgFileLogger lagging(Folder().Get(), VString("shared"));
	VLog4jMsgFileLogger busy(Folder().Get(), VString("shared"));
	lagging.Start();
	PutNumbered(lagging, "lag", 0, 1, 1, padding);
	busy.Start();
	ASSERT_TRUE(lagging.IsStarted() && busy.IsStarted());
	// The busy logger writes lines to each of files 1 to 3 which then grows past the split size (a hole stands
	// for the rest of its lines), and goes on writing until it has opened the next.
	int written = 0;
	for (int number = 1; number <= 3; ++number)
	{
		PutNumbered(busy, "busy", written, 20, 10, padding);
		written += 20;
		Extended("shared_" + std::to_string(number) + ".txt");
		const std::string next = "shared_" + std::to_string(number + 1) + ".txt";
		for (int batch = 0; batch < 100 && !Exists(next); ++batch, written += 10)
			PutNumbered(busy, "busy", written, 10, 10, padding);
		ASSERT_TRUE(Exists(next));
	}
	PutNumbered(busy, "busy", written, 20, 10, padding);
	written += 20;
	// The busy logger's files are then older by time alone than anything the lagging one opens next, as
	// files left by an earlier run would be.
	std::this_thread::sleep_for(std::chrono::milliseconds(2100));
	PutNumbered(lagging, "lag", 1, 400, 10, padding);
	busy.Stop();
	lagging.Stop();
	const std::map<int, std::string> files = ReadNumbered("shared");
	ASSERT_FALSE(files.empty());
	EXPECT_EQ(files.begin()->first, 1);
	EXPECT_EQ(files.rbegin()->first, 4);
	SharedLines read;
	for (const auto& [number, content] : files)
		AddSharedLines(read, content, padding);
	ExpectEveryLineOnce(read, {{"busy", written}, {"lag", 401}});
}

// A quiet logger whose file was removed under it (rotated away by a busy logger of its name, or deleted by
// hand) goes on in the highest number there is, or makes its own again when none is left: no late line is
// lost, none is written twice.
TEST_F(VLog4jMsgFileLoggerTest, RemovedFileIsFollowed)
{
	struct Row
	{
		const char* name;
		bool rotated;  // else deleted by hand
		int expected;  // the number that holds the late lines
	};
	const Row rows[] = {{"rotated away", true, 3}, {"deleted by hand", false, 1}};
	constexpr int kLate = 20;
	const std::string padding(40, '.');
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::filesystem::remove_all(fRoot);
		std::filesystem::create_directory(fRoot);
		VLog4jMsgFileLogger quiet(Folder().Get(), VString("q"));
		quiet.Start();
		ASSERT_TRUE(quiet.IsStarted());
		quiet.SetLogMaxNumberToKeep(2);
		PutNumbered(quiet, "early", 0, 1, 1, padding);
		VLog4jMsgFileLogger busy(Folder().Get(), VString("q"));
		if (row.rotated)
		{
			// The busy logger resumes in a full file 2: its next line opens 3, which removes 1.
			Sized("q_2.txt", VSplitableLogFile::kSplitPosition);
			busy.Start();
			ASSERT_TRUE(busy.IsStarted());
			busy.SetLogMaxNumberToKeep(2);
			PutNumbered(busy, "busy", 0, 1, 1, padding);
		}
		else
		{
			std::filesystem::remove(fRoot + "q_1.txt");
		}
		ASSERT_FALSE(Exists("q_1.txt"));
		// The first late line comes after a pause, as a quiet logger's do: it reaches the file at once.
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
		PutNumbered(quiet, "late", 0, 1, 1, padding);
		const std::string expected = "q_" + std::to_string(row.expected) + ".txt";
		EXPECT_NE(Read(expected).find("late 0 "), std::string::npos);
		PutNumbered(quiet, "late", 1, kLate - 1, 1, padding);
		quiet.Stop();
		busy.Stop();
		const std::map<int, std::string> files = ReadNumbered("q");
		ASSERT_FALSE(files.empty());
		EXPECT_EQ(files.rbegin()->first, row.expected);
		const SharedLines read = ReadSharedLines(files.rbegin()->second, padding);
		const auto late = read.numbers.find("late");
		ASSERT_NE(late, read.numbers.end());
		int missing = 0;
		for (int i = 0; i < kLate; ++i)
		{
			missing += late->second.count(i) == 0 ? 1 : 0;
			EXPECT_LE(late->second.count(i), 1u) << i;
		}
		EXPECT_EQ(missing, 0) << "of " << kLate;
		EXPECT_EQ(read.numbers.count("busy"), row.rotated ? 1u : 0u);
		EXPECT_TRUE(read.broken.empty()) << read.broken.front();
	}
}

// Two logs of one name reach the split size at the same instant and open the next number together, which
// is missing or a leftover from an earlier run: neither empties the line the other has written there.
TEST_F(VLog4jMsgFileLoggerTest, TwoSplitsAtOnce)
{
	struct Row
	{
		const char* name;
		bool leftover;
	};
	// Rounds are made ready a batch at a time, each with a name of its own, so that the two writers meet
	// once per round without waiting for the test's thread.
	constexpr int kBatches = 5;
	constexpr int kBatch = 100;
	const std::string padding(20, '.');
	for (const Row row : {Row{"none there", false}, Row{"a leftover there", true}})
	{
		SCOPED_TRACE(row.name);
		int lost = 0;
		for (int batch = 0; batch < kBatches; ++batch)
		{
			std::filesystem::remove_all(fRoot);
			std::filesystem::create_directory(fRoot);
			std::vector<std::unique_ptr<VSplitableLogFile>> logs[2];
			for (int round = 0; round < kBatch; ++round)
			{
				const std::string name = "s" + std::to_string(round);
				Sized(name + "_1.txt", VSplitableLogFile::kSplitPosition);
				if (row.leftover)
				{
					Write(name + "_2.txt", "stale\n");
					Age(name + "_2.txt");
				}
				for (auto& writer : logs)
				{
					writer.push_back(std::make_unique<VSplitableLogFile>(Folder().Get(), VString(name.c_str()), 1, false));
					ASSERT_TRUE(writer.back()->Open(false));
				}
			}
			std::atomic<int> arrived{0};
			auto write = [&](int w) {
				const std::string tag = w == 0 ? "one" : "two";
				const std::string line = "1 2024-03-05T07:08:09.010 [" + tag + "] INFO - " + tag + " 0 " + padding + " ()\n";
				for (int round = 0; round < kBatch; ++round)
				{
					arrived.fetch_add(1);
					for (int spins = 0; arrived.load() < 2 * (round + 1); ++spins)
					{
						if (spins > 1000)
							std::this_thread::yield();
					}
					logs[w][size_t(round)]->AppendString(line.c_str());
					logs[w][size_t(round)]->Flush();
				}
			};
			std::thread one(write, 0);
			std::thread two(write, 1);
			one.join();
			two.join();
			for (int round = 0; round < kBatch; ++round)
			{
				logs[0][size_t(round)]->Close();
				logs[1][size_t(round)]->Close();
				const std::string name = "s" + std::to_string(round);
				const SharedLines read = ReadSharedLines(Read(name + "_2.txt"), padding);
				ASSERT_TRUE(read.broken.empty()) << round << ": " << read.broken.front();
				ASSERT_FALSE(Exists(name + "_3.txt"));
				if (read.lines != 2)
					++lost;
			}
		}
		EXPECT_EQ(lost, 0) << "rounds of " << kBatches * kBatch;
	}
}

}  // namespace
}  // namespace velk
