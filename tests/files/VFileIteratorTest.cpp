// Folder iteration: which entries each option set yields (files, folders, dot-names, links of every kind,
// special files, a file system's root), times of the current entry, and failures kept rather than lost.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "files/VFileIterator.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "kernel/values/VTime.h"

namespace velk {
namespace {

class VFileIteratorTest : public test::VTemporaryFolderTest
{
protected:
	void SetUp() override
	{
		VTemporaryFolderTest::SetUp();
		char real[PATH_MAX];
		ASSERT_NE(::realpath(fRoot.c_str(), real), nullptr);
		fReal = std::string(real) + "/";
	}

	VRefPtr<VFolder> Folder(const std::string& name, VFileSystem* fileSystem = nullptr) const
	{
		std::filesystem::create_directories(fRoot + name);
		VFilePath path(VString((fRoot + name + "/").c_str()), FPS_POSIX);
		return VRefPtr<VFolder>(new VFolder(path, fileSystem), true);
	}

	void Touch(const std::string& name) const { std::ofstream(fRoot + name) << name; }

	void Link(const char* text, const std::string& name) const { ASSERT_EQ(::symlink(text, (fRoot + name).c_str()), 0); }

	// What the iterator yields, each as its POSIX path inside the temporary folder, sorted.
	template <class Iterator>
	std::vector<std::string> Yielded(Iterator& it) const
	{
		std::vector<std::string> paths;
		for (; it.IsValid(); ++it)
		{
			VString text;
			it->GetPath().GetPosixPath(text);
			std::string path = to_string(text);
			paths.push_back(path.compare(0, fReal.size(), fReal) == 0 ? path.substr(fReal.size()) : path);
		}
		std::sort(paths.begin(), paths.end());
		return paths;
	}

	std::string fReal;  // the temporary folder's real path, ending with '/'
};

using Paths = std::vector<std::string>;

struct Row
{
	const char* name;
	bool folders;  // a folder iterator, else a file iterator
	uint32 options;
	bool confined;  // with a file system rooted at "top"
	Paths expected;
};

TEST_F(VFileIteratorTest, OptionsChooseTheEntriesYielded)
{
	Folder("top/sub");
	Folder("top/.hsub");
	Folder("outside");
	Touch("top/a.txt");
	Touch("top/.h.txt");
	Touch("top/sub/inner.txt");
	Link("a.txt", "top/lfile");
	Link("sub", "top/ldir");
	Link(".h.txt", "top/lhidden");
	Link("nowhere", "top/dangling");
	Link("loop", "top/loop");
	Link("../outside", "top/lout");
	ASSERT_EQ(::mkfifo((fRoot + "top/fifo").c_str(), 0600), 0);

	const Paths links = {"top/a.txt", "top/dangling", "top/ldir", "top/lfile", "top/lhidden", "top/loop", "top/lout"};
	Paths withHidden = links;
	withHidden.insert(withHidden.begin(), "top/.h.txt");
	const Row rows[] = {
		{"files and links as they are", false, 4, false, links},
		{"dot-names kept", false, 4 | 8, false, withHidden},
		{"folder bit ignored by files", false, 2 | 4, false, links},
		{"links resolved: files only, hidden target dropped", false, 4 | 16, false, {"top/a.txt", "top/a.txt"}},
		{"links resolved with dot-names", false, 4 | 8 | 16, false, {"top/.h.txt", "top/.h.txt", "top/a.txt", "top/a.txt"}},
		{"sub-folders only", true, 2, false, {"top/sub/"}},
		{"file bit cleared for folders", true, 2 | 4, false, {"top/sub/"}},
		{"hidden sub-folder kept", true, 2 | 8, false, {"top/.hsub/", "top/sub/"}},
		{"linked folders resolved", true, 2 | 16, false, {"outside/", "top/sub/", "top/sub/"}},
		{"a link out of the root dropped", true, 2 | 16, true, {"top/sub/", "top/sub/"}},
		{"confined files", false, 4 | 16, true, {"top/a.txt", "top/a.txt"}},
		{"no kind asked", true, 8 | 16, false, {}},
	};
	VRefPtr<VFileSystem> fileSystem(VFileSystem::Create(VString("top"), Folder("top").Get(), 0, 0, 0), true);
	ASSERT_TRUE(fileSystem);
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VRefPtr<VFolder> top = Folder("top", row.confined ? fileSystem.Get() : nullptr);
		Paths paths;
		uint32 count = 0;
		VError error = VE_OK;
		if (row.folders)
		{
			VFolderIterator it(top.Get(), row.options);
			paths = Yielded(it);
			count = it.GetCount();
			error = it.GetError();
		}
		else
		{
			VFileIterator it(top.Get(), row.options);
			paths = Yielded(it);
			count = it.GetCount();
			error = it.GetError();
		}
		EXPECT_EQ(paths, row.expected);
		EXPECT_EQ(count, uint32(row.expected.size()));
		EXPECT_EQ(error, VE_OK);
	}
}

TEST_F(VFileIteratorTest, TimesOfTheCurrentEntryAndNoneAfterTheEnd)
{
	Folder("t");
	Touch("t/one.txt");
	const std::string path = fRoot + "t/one.txt";
	struct timespec times[2] = {{1000000000, 0}, {1200000000, 0}};
	ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

	VRefPtr<VFolder> folder = Folder("t");
	VFileIterator it(folder.Get(), 4);
	ASSERT_TRUE(it.IsValid());
	VTime modified;
	VTime accessed;
	ASSERT_EQ(it.GetTime(&modified, nullptr, &accessed), VE_OK);
	VTime expected;
	expected.FromUTCTime(2008, 1, 10, 21, 20, 0, 0);
	EXPECT_TRUE(modified == expected);
	++it;
	EXPECT_FALSE(it.IsValid());
	EXPECT_EQ(it.GetTime(&modified, nullptr, nullptr), VE_INVALID_PARAMETER);
	EXPECT_EQ(it.GetCount(), 1u);
}

TEST_F(VFileIteratorTest, FailuresAreKeptNotSwallowed)
{
	Folder("bad");
	Touch("bad/good.txt");
	Touch("bad/\xff\xfe.txt");

	VRefPtr<VFolder> bad = Folder("bad");
	VFileIterator names(bad.Get(), 4);
	EXPECT_EQ(Yielded(names), Paths{"bad/good.txt"});
	EXPECT_EQ(names.GetError(), MakePosixError(EILSEQ));

	VRefPtr<VFolder> missing(new VFolder(VFilePath(VString((fRoot + "missing/").c_str()), FPS_POSIX)), true);
	VFolderIterator none(missing.Get(), 2);
	EXPECT_FALSE(none.IsValid());
	EXPECT_EQ(none.GetError(), MakePosixError(ENOENT));

	// A file where a folder is named cannot be listed either.
	VRefPtr<VFolder> file(new VFolder(VFilePath(VString((fRoot + "bad/good.txt/").c_str()), FPS_POSIX)), true);
	VFileIterator notFolder(file.Get(), 4);
	EXPECT_EQ(notFolder.GetError(), MakePosixError(ENOTDIR));
}

}  // namespace
}  // namespace velk
