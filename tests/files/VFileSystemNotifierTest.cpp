// The file-system notifier over inotify: each kind of change in a watched tree reaches the handler on the
// watching task, new sub-folders are watched as they come, lost events still report every change, a stopped
// watch reports nothing, and failures of the change feed are never success.
#include <gtest/gtest.h>

#include <errno.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFileSystemNotifier.h"
#include "files/VFolder.h"
#include "platform/ChangeNotification.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

using Report = std::pair<VFileSystemNotifier::EventKind, std::string>;
using Kind = VFileSystemNotifier::EventKind;
constexpr Kind kAllKinds = Kind(VFileSystemNotifier::kFileModified | VFileSystemNotifier::kFileAdded
	| VFileSystemNotifier::kFileDeleted);

// Keeps every path reported, relative to the root, with its kind; and each call's paths as one group.
class RecordingHandler : public VFileSystemNotifier::IEventHandler
{
public:
	explicit RecordingHandler(std::string root) : fRoot(std::move(root)) {}

	void FileSystemEventHandler(const std::vector<VFilePath>& paths, VFileSystemNotifier::EventKind kind) override
	{
		std::vector<std::string> call;
		for (const VFilePath& path : paths)
		{
			std::string text = to_string(path.GetPath(FPS_POSIX));
			if (text.compare(0, fRoot.size(), fRoot) == 0)
				text.erase(0, fRoot.size());
			fReports.emplace_back(kind, text);
			call.push_back(text);
		}
		fCalls.emplace_back(kind, call);
	}

	bool Has(const Report& report) const
	{
		return std::find(fReports.begin(), fReports.end(), report) != fReports.end();
	}

	const std::string fRoot;
	std::vector<Report> fReports;
	std::vector<std::pair<Kind, std::vector<std::string>>> fCalls;
};

class VFileSystemNotifierTest : public test::VTemporaryFolderTest
{
protected:
	void TearDown() override
	{
		plat::FolderEventStream::SetDroppingEventsForTesting(false);
		plat::FolderEventStream::SetWatchFailureForTesting(0, 0);
		test::VTemporaryFolderTest::TearDown();
	}

	VFolder Root() const { return VFolder(VString(fRoot.c_str()), FPS_POSIX); }

	// Runs the task's messages, where the reports arrive, until the condition holds or a generous bound.
	static bool RunMessagesUntil(const std::function<bool()>& condition)
	{
		for (int i = 0; i < 500 && !condition(); ++i)
			VTask::ExecuteMessagesWithTimeout(20, false);
		return condition();
	}

	void Touch(const std::string& name, time_t seconds) const
	{
		const timeval times[2] = {{seconds, 0}, {seconds, 0}};
		ASSERT_EQ(::utimes((fRoot + name).c_str(), times), 0);
	}
};

}  // namespace

TEST_F(VFileSystemNotifierTest, EachChangeIsReportedWithItsKind)
{
	struct Row
	{
		const char* what;
		Kind kinds;
		std::function<void()> change;
		std::vector<Report> expected;	// in full: nothing else may be reported
	};
	const std::vector<Row> rows = {
		{"created", kAllKinds, [this] { Write("new", "x"); },
			{{VFileSystemNotifier::kFileAdded, "new"}}},
		{"folder created", kAllKinds, [this] { std::filesystem::create_directory(fRoot + "made"); },
			{{VFileSystemNotifier::kFileAdded, "made/"}}},
		{"modified", kAllKinds, [this] { Touch("file", 1000); },
			{{VFileSystemNotifier::kFileModified, "file"}}},
		{"deleted", kAllKinds, [this] { std::filesystem::remove(fRoot + "file"); },
			{{VFileSystemNotifier::kFileDeleted, "file"}}},
		{"renamed", kAllKinds, [this] { std::filesystem::rename(fRoot + "file", fRoot + "moved"); },
			{{VFileSystemNotifier::kFileDeleted, "file"}, {VFileSystemNotifier::kFileAdded, "moved"}}},
		{"renamed, creations only", VFileSystemNotifier::kFileAdded,
			[this] { std::filesystem::rename(fRoot + "file", fRoot + "moved"); },
			{{VFileSystemNotifier::kFileAdded, "moved"}}},
		// The last file of each of these rows is only there to tell when the batch has come.
		{"metadata file and folder times", kAllKinds, [this]
			{
				Write(".DS_Store", "x");
				Touch("folder", 1000);
				Write(".hidden", "x");
			},
			{{VFileSystemNotifier::kFileAdded, ".hidden"}}},
		{"deletions not asked for", Kind(VFileSystemNotifier::kFileAdded | VFileSystemNotifier::kFileModified),
			[this]
			{
				std::filesystem::remove(fRoot + "file");
				Write("after", "x");
			},
			{{VFileSystemNotifier::kFileAdded, "after"}}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.what);
		std::filesystem::remove_all(fRoot);
		std::filesystem::create_directories(fRoot + "folder");
		Write("file", "content");
		VFileSystemNotifier notifier;
		RecordingHandler handler(fRoot);
		ASSERT_EQ(notifier.StartWatchingForChanges(Root(), row.kinds, &handler, 50), VE_OK);
		row.change();
		EXPECT_TRUE(RunMessagesUntil([&] { return handler.fReports.size() >= row.expected.size(); }));
		EXPECT_EQ(notifier.StopWatchingForChanges(Root(), &handler), VE_OK);
		std::vector<Report> reports = handler.fReports, expected = row.expected;
		std::sort(reports.begin(), reports.end());
		std::sort(expected.begin(), expected.end());
		EXPECT_EQ(reports, expected);
	}
}

TEST_F(VFileSystemNotifierTest, NewSubFoldersAreWatchedAsTheyCome)
{
	VFileSystemNotifier notifier;
	RecordingHandler handler(fRoot);
	ASSERT_EQ(notifier.StartWatchingForChanges(Root(), kAllKinds, &handler, 20), VE_OK);
	std::filesystem::create_directories(fRoot + "sub");
	ASSERT_TRUE(RunMessagesUntil([&] { return handler.Has({VFileSystemNotifier::kFileAdded, "sub/"}); }));
	std::filesystem::create_directories(fRoot + "sub/deeper");
	Write("sub/y", "1");
	ASSERT_TRUE(RunMessagesUntil([&]
	{
		return handler.Has({VFileSystemNotifier::kFileAdded, "sub/deeper/"}) && handler.Has({VFileSystemNotifier::kFileAdded, "sub/y"});
	}));
	Write("sub/deeper/x", "1");
	EXPECT_TRUE(RunMessagesUntil([&] { return handler.Has({VFileSystemNotifier::kFileAdded, "sub/deeper/x"}); }));
	std::filesystem::rename(fRoot + "sub/y", fRoot + "sub/deeper/z");
	EXPECT_TRUE(RunMessagesUntil([&]
	{
		return handler.Has({VFileSystemNotifier::kFileDeleted, "sub/y"}) && handler.Has({VFileSystemNotifier::kFileAdded, "sub/deeper/z"});
	}));
	EXPECT_EQ(notifier.StopWatchingForChanges(Root(), &handler), VE_OK);
}

TEST_F(VFileSystemNotifierTest, ChangesLostToAnOverflowAreStillReported)
{
	std::filesystem::create_directories(fRoot + "sub");
	VFileSystemNotifier notifier;
	RecordingHandler handler(fRoot);
	ASSERT_EQ(notifier.StartWatchingForChanges(Root(), kAllKinds, &handler, 20), VE_OK);
	const uint64_t dropped = plat::FolderEventStream::GetDroppedEventsForTesting();
	plat::FolderEventStream::SetDroppingEventsForTesting(true);
	Write("sub/lost", "1");
	ASSERT_TRUE(RunMessagesUntil([&] { return plat::FolderEventStream::GetDroppedEventsForTesting() > dropped; }));
	plat::FolderEventStream::SetDroppingEventsForTesting(false);
	Write("next", "1");
	// Without the overflow, only "next" would be compared and the rebuilt snapshot would take "sub/lost" in.
	EXPECT_TRUE(RunMessagesUntil([&]
	{
		return handler.Has({VFileSystemNotifier::kFileAdded, "sub/lost"}) && handler.Has({VFileSystemNotifier::kFileAdded, "next"});
	}));
	EXPECT_EQ(notifier.StopWatchingForChanges(Root(), &handler), VE_OK);
}

TEST_F(VFileSystemNotifierTest, AStoppedWatchReportsNothing)
{
	VFileSystemNotifier notifier;
	RecordingHandler stopped(fRoot), sentinel(fRoot);
	ASSERT_EQ(notifier.StartWatchingForChanges(Root(), kAllKinds, &stopped, 20), VE_OK);
	ASSERT_EQ(notifier.StartWatchingForChanges(Root(), kAllKinds, &sentinel, 20), VE_OK);
	// A change found but not yet delivered is dropped with its watch.
	Write("before", "1");
	ASSERT_EQ(notifier.StopWatchingForChanges(Root(), &stopped), VE_OK);
	Write("after", "1");
	ASSERT_TRUE(RunMessagesUntil([&] { return sentinel.Has({VFileSystemNotifier::kFileAdded, "after"}); }));
	EXPECT_TRUE(stopped.fReports.empty());
	EXPECT_EQ(notifier.StopWatchingForChanges(Root(), &stopped), VE_FS_NOTIFICATION_NOT_WATCHING);
}

TEST_F(VFileSystemNotifierTest, ReportsOnTheirWayOutliveTheNotifier)
{
	RecordingHandler handler(fRoot);
	{
		VFileSystemNotifier notifier;
		ASSERT_EQ(notifier.StartWatchingForChanges(Root(), kAllKinds, &handler, 20), VE_OK);
		Write("late", "1");
		for (int i = 0; i < 2000 && !VTask::IsAnyMessagePending(); ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		ASSERT_TRUE(VTask::IsAnyMessagePending());
	}
	// The message holds the watch, not the notifier, which is gone: it must deliver nothing.
	VTask::ExecuteMessages(false);
	EXPECT_TRUE(handler.fReports.empty());
}

TEST_F(VFileSystemNotifierTest, WatchErrors)
{
	VFileSystemNotifier notifier;
	RecordingHandler first(fRoot), second(fRoot);
	EXPECT_EQ(notifier.StopWatchingForChanges(Root(), &first), VE_FS_NOTIFICATION_NOT_WATCHING);
	ASSERT_EQ(notifier.StartWatchingForChanges(Root(), kAllKinds, &first, 20), VE_OK);
	EXPECT_EQ(notifier.StartWatchingForChanges(Root(), kAllKinds, &first, 20), VE_FS_NOTIFICATION_ALREADY_WATCHING);
	EXPECT_EQ(notifier.StartWatchingForChanges(Root(), kAllKinds, &second, 20), VE_OK);
	EXPECT_EQ(notifier.StopWatchingForChanges(Root(), &second), VE_OK);

	// A refused watch, with the reason the system gave, or none at all, is a failure and leaves no watch.
	const int reasons[] = {ENOSPC, 0};
	for (const int reason : reasons)
	{
		SCOPED_TRACE(reason);
		plat::FolderEventStream::SetWatchFailureForTesting(1, reason);
		const VError result = notifier.StartWatchingForChanges(Root(), kAllKinds, &second, 20);
		EXPECT_EQ(ERRCODE_SIGNATURE(result), kPOSIX_SIGNATURE);
		EXPECT_NE(ERRCODE_NUMBER(result), 0);
		if (reason != 0)
		{
			EXPECT_EQ(ERRCODE_NUMBER(result), reason);
		}
		EXPECT_EQ(notifier.StopWatchingForChanges(Root(), &second), VE_FS_NOTIFICATION_NOT_WATCHING);
	}
	EXPECT_EQ(notifier.StopWatchingForChanges(Root(), &first), VE_OK);
}

TEST_F(VFileSystemNotifierTest, DeliveryCutsRunsOfOneKindAndReportsEachPathOncePerRun)
{
	VFileSystemNotifier notifier;
	RecordingHandler handler(fRoot);
	VFileSystemNotifier::VChangeData* data = new VFileSystemNotifier::VChangeData(
		VFilePath(VString(fRoot.c_str()), FPS_POSIX), kAllKinds, &handler, VTask::GetCurrent(), nullptr);
	const auto path = [this](const char* name) { return VFilePath(VString((fRoot + name).c_str()), FPS_POSIX); };
	data->fChanges = {{path("a"), VFileSystemNotifier::kFileModified}, {path("a"), VFileSystemNotifier::kFileModified},
		{path("b"), VFileSystemNotifier::kFileModified}, {path("c"), VFileSystemNotifier::kFileAdded},
		{path("a"), VFileSystemNotifier::kFileModified}};
	notifier.EventSignaledCallback(data);
	const std::vector<std::pair<Kind, std::vector<std::string>>> expected = {
		{VFileSystemNotifier::kFileModified, {"a", "b"}}, {VFileSystemNotifier::kFileAdded, {"c"}},
		{VFileSystemNotifier::kFileModified, {"a"}}};
	EXPECT_EQ(handler.fCalls, expected);
	EXPECT_TRUE(data->fChanges.empty());
	data->Release();
}

}  // namespace velk
