// The folder event stream: events name the folder whose entries changed, gathered into batches on the loop;
// the root's own end is a root event; nothing comes after Stop.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/ChangeNotification.h"
#include "platform/RunLoop.h"

using plat::FolderEventStream;

namespace {

bool RunUntil(const std::function<bool()>& condition)
{
	for (int i = 0; i < 500 && !condition(); ++i)
		plat::RunLoop::Current().RunOnce(20);
	return condition();
}

}  // namespace

TEST(FolderEventStream, EventsNameTheFolderAndTheRootsEnd)
{
	char pattern[] = "/tmp/velk-stream-XXXXXX";
	ASSERT_NE(::mkdtemp(pattern), nullptr);
	const std::string parent = pattern, root = parent + "/watched/", sub = root + "sub/";
	std::filesystem::create_directories(sub);
	std::vector<FolderEventStream::Event> events;
	FolderEventStream stream(root, 10, [&](const std::vector<FolderEventStream::Event>& batch)
	{
		events.insert(events.end(), batch.begin(), batch.end());
	});
	int error = 0;
	ASSERT_TRUE(stream.Open(error));
	ASSERT_TRUE(stream.WatchFolders({root, sub}, error));
	ASSERT_TRUE(stream.Start(plat::RunLoop::Current(), error));
	const auto has = [&](const std::string& path, uint32_t flags)
	{
		for (const FolderEventStream::Event& event : events)
		{
			if (event.fPath == path && event.fFlags == flags)
				return true;
		}
		return false;
	};

	std::ofstream(sub + "file") << "x";
	EXPECT_TRUE(RunUntil([&] { return has(sub, 0); }));
	EXPECT_FALSE(has(root, 0));

	std::filesystem::rename(root, parent + "/renamed");
	EXPECT_TRUE(RunUntil([&] { return has(root, FolderEventStream::kRootChanged); }));

	stream.Stop();
	events.clear();
	std::ofstream(parent + "/renamed/sub/other") << "x";
	EXPECT_FALSE(plat::RunLoop::Current().RunOnce(0));
	EXPECT_TRUE(events.empty());
	std::filesystem::remove_all(parent);
}
