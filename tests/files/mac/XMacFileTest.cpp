// The file operations of the platform half: creating and replacing, renaming and moving without losing
// what is at the target, copies that fail part-way, symbolic links and their resolution, modes of links.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "common/VTemporaryFolderTest.h"
#include "common/VTestEnvironment.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "kernel/values/VTime.h"
#include "platform/TreeCopy.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

constexpr VError Posix(int errorNumber)
{
	return MakeVError(kPOSIX_SIGNATURE, errorNumber);
}

class XMacFileTest : public test::VTemporaryFolderTest
{
protected:
	void TearDown() override
	{
		plat::SetCopyFaultForTesting(std::string(), 0);
		test::VTemporaryFolderTest::TearDown();
	}

	VFilePath Path(const std::string& name) const
	{
		return VFilePath(VString((fRoot + name).c_str()), FPS_POSIX);
	}

	std::string Full(const std::string& name) const
	{
		return fRoot + name;
	}

	// The names in a folder of the root, to see that nothing was left aside.
	size_t CountEntries(const std::string& folder) const
	{
		size_t count = 0;
		for (const auto& entry : std::filesystem::directory_iterator(fRoot + folder))
		{
			(void)entry;
			++count;
		}
		return count;
	}
};

TEST_F(XMacFileTest, CreateReplacesOnlyWhenAsked)
{
	struct Row
	{
		const char* label;
		bool existed;
		uint32 options;
		VError expected;
		const char* content;  // after the call
	};
	const Row rows[] = {
		{"new file", false, 0, VE_OK, ""},
		{"existing file kept", true, 0, Posix(EEXIST), "old"},
		{"existing file replaced", true, kXMacFileReplace, VE_OK, ""},
		{"new file with replace", false, kXMacFileReplace, VE_OK, ""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.label);
		std::filesystem::remove(Full("made.txt"));
		if (row.existed)
			Write("made.txt", "old");
		EXPECT_EQ(XMacFile(Full("made.txt").c_str()).Create(row.options), row.expected);
		EXPECT_EQ(Read("made.txt"), row.content);
		EXPECT_TRUE(std::filesystem::is_regular_file(Full("made.txt")));
		EXPECT_EQ(CountEntries(""), 1u);
	}
	EXPECT_EQ(XMacFile(Full("missing/made.txt").c_str()).Create(kXMacFileReplace), Posix(ENOENT));
	EXPECT_EQ(CountEntries(""), 1u);
}

TEST_F(XMacFileTest, RenamesAndMovesNeverReplaceUnlessAsked)
{
	enum Operation
	{
		kRenamePath,
		kRename,
		kMove,
	};
	struct Row
	{
		const char* label;
		Operation operation;
		const char* target;  // relative to the root; a folder path ends with '/'
		bool targetExists;
		uint32 options;
		VError expected;
		const char* landed;  // where the source's bytes are afterwards
	};
	const Row rows[] = {
		{"rename path to a free name", kRenamePath, "b.txt", false, 0, VE_OK, "b.txt"},
		{"rename path onto a file", kRenamePath, "b.txt", true, 0, Posix(EEXIST), "a.txt"},
		{"rename onto a file", kRename, "b.txt", true, 0, Posix(EEXIST), "a.txt"},
		{"move in the folder onto a file", kMove, "b.txt", true, 0, Posix(EEXIST), "a.txt"},
		{"move in the folder replacing", kMove, "b.txt", true, kXMacFileReplace, VE_OK, "b.txt"},
		{"move to another folder", kMove, "sub/", false, 0, VE_OK, "sub/a.txt"},
		{"move to another folder onto a file", kMove, "sub/a.txt", true, 0, Posix(EEXIST), "a.txt"},
		{"move to another folder replacing", kMove, "sub/a.txt", true, kXMacFileReplace, VE_OK, "sub/a.txt"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.label);
		std::filesystem::remove_all(fRoot);
		std::filesystem::create_directories(Full("sub"));
		Write("a.txt", "source");
		if (row.targetExists)
			Write(row.target, "target");
		XMacFile file(Path("a.txt"));
		VFilePath out(Path("stale"));
		VError result = VE_OK;
		if (row.operation == kRenamePath)
			result = XMacFile::RenamePath(Full("a.txt").c_str(), Path(row.target));
		else if (row.operation == kRename)
			result = file.Rename(VString(row.target), &out);
		else
			result = file.Move(Path(row.target), &out, row.options);
		EXPECT_EQ(result, row.expected);
		EXPECT_EQ(Read(row.landed), "source");
		if (row.targetExists && row.expected != VE_OK)
		{
			EXPECT_EQ(Read(row.target), "target");
		}
		if (row.operation != kRenamePath)
		{
			VString landed;
			out.GetPosixPath(landed);
			EXPECT_EQ(to_string(landed), row.expected == VE_OK ? Full(row.landed) : std::string());
		}
	}
}

TEST_F(XMacFileTest, CopyKeepsTheReplacedFileWhenItFails)
{
	Write("a.txt", "new");
	Write("b.txt", "old");
	XMacFile file(Path("a.txt"));
	EXPECT_EQ(file.Copy(Path("b.txt"), nullptr, 0), Posix(EEXIST));
	plat::SetCopyFaultForTesting(Full("a.txt"), ENOSPC);
	EXPECT_EQ(file.Copy(Path("b.txt"), nullptr, kXMacFileReplace), Posix(ENOSPC));
	EXPECT_EQ(Read("b.txt"), "old");
	EXPECT_EQ(CountEntries(""), 2u);
	plat::SetCopyFaultForTesting(std::string(), 0);
	VFilePath out;
	EXPECT_EQ(file.Copy(Path("b.txt"), &out, kXMacFileReplace), VE_OK);
	EXPECT_EQ(Read("b.txt"), "new");
	EXPECT_EQ(Read("a.txt"), "new");
}

TEST_F(XMacFileTest, SymbolicLinkTexts)
{
	struct Row
	{
		const char* label;
		const char* link;
		const char* target;
		bool absolute;
		std::string text;
	};
	const Row rows[] = {
		{"same folder", "l1", "data/t.txt", false, "data/t.txt"},
		{"up two folders", "x/y/l2", "data/t.txt", false, "../../data/t.txt"},
		{"to a folder", "x/l3", "data/", false, "../data/"},
		{"absolute", "x/l4", "data/t.txt", true, fRoot + "data/t.txt"},
	};
	std::filesystem::create_directories(Full("x/y"));
	std::filesystem::create_directories(Full("data"));
	Write("data/t.txt", "target");
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.label);
		XMacFile link(Path(row.link));
		ASSERT_EQ(link.CreateSymbolicLink(Path(row.target), row.absolute), VE_OK);
		VString text;
		EXPECT_EQ(link.ReadSymbolicLink(text), VE_OK);
		EXPECT_EQ(to_string(text), row.text);
		EXPECT_TRUE(std::filesystem::exists(Full(row.link)));
		EXPECT_TRUE(link.IsSymbolicLink());
		EXPECT_TRUE(link.IsAliasFile());
	}

	// A link made over a file replaces it in one step, with nothing left aside.
	Write("x/y/plain", "plain");
	XMacFile over(Path("x/y/plain"));
	ASSERT_EQ(over.CreateSymbolicLink(Path("data/t.txt"), false), VE_OK);
	EXPECT_EQ(Read("x/y/plain"), "target");
	EXPECT_EQ(CountEntries("x/y"), 2u);
}

TEST_F(XMacFileTest, ResolveAliasGivesTheRealPathOfTheTarget)
{
	std::filesystem::create_directories(Full("real/inner"));
	Write("real/inner/t.txt", "t");
	std::filesystem::create_directory_symlink(Full("real"), Full("via"));
	std::filesystem::create_symlink(Full("via/inner/t.txt"), Full("to-file"));
	std::filesystem::create_symlink("via/inner", Full("to-folder"));
	std::filesystem::create_symlink(Full("nowhere"), Full("dangling"));
	Write("plain.txt", "p");

	struct Row
	{
		const char* name;
		VError expected;
		std::string target;
	};
	const Row rows[] = {
		{"to-file", VE_OK, fRoot + "real/inner/t.txt"},
		{"to-folder", VE_OK, fRoot + "real/inner/"},
		{"dangling", Posix(ENOENT), ""},
		{"missing", Posix(ENOENT), ""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VFilePath target;
		EXPECT_EQ(XMacFile(Path(row.name)).ResolveAlias(target), row.expected);
		VString text;
		target.GetPosixPath(text);
		EXPECT_EQ(to_string(text), row.target);
	}

	StErrorContextInstaller scope(false, true);
	VFilePath target;
	const VError notAnAlias = MakeVError(kVELK_SIGNATURE, 611);
	EXPECT_EQ(XMacFile(Path("plain.txt")).ResolveAlias(target), notAnAlias);
	EXPECT_EQ(scope.GetLastError(), notAnAlias);
	EXPECT_FALSE(XMacFile(Path("plain.txt")).IsAliasFile());
}

TEST_F(XMacFileTest, RealPathsResolveFoldersButKeepTheEntryAndFitTheirBuffer)
{
	std::filesystem::create_directories(Full("real/inner"));
	Write("real/inner/t.txt", "t");
	std::filesystem::create_directory_symlink(Full("real"), Full("via"));
	std::filesystem::create_symlink(Full("real/inner/t.txt"), Full("real/link"));
	struct Row
	{
		const char* name;
		bool allowMissingLeaf;
		bool expected;
		std::string real;
	};
	const Row rows[] = {
		{"via/inner/t.txt", false, true, fRoot + "real/inner/t.txt"},
		{"via/inner/", false, true, fRoot + "real/inner/"},
		{"via/link", false, true, fRoot + "real/link"},  // a final link is the entry itself
		{"via/inner/new.txt", true, true, fRoot + "real/inner/new.txt"},
		{"via/inner/new.txt", false, false, ""},
		{"via/missing/new.txt", true, false, ""},  // only the last name may be missing
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		char out[PATH_MAX + 1] = {};
		EXPECT_EQ(XMacFile::RealPath(Full(row.name).c_str(), row.allowMissingLeaf, out, sizeof(out)), row.expected);
		if (row.expected)
		{
			EXPECT_EQ(std::string(out), row.real);
		}
	}
	char small[1024];
	EXPECT_FALSE(XMacFile::RealPath(Full("via").c_str(), false, small, sizeof(small)));
	// A result longer than the buffer is refused, never cut.
	std::string deep = fRoot;
	for (int i = 0; i < 12 && deep.size() < 1100; ++i)
	{
		deep += std::string(100, 'd') + "/";
		std::filesystem::create_directory(deep);
	}
	char exact[1025];
	EXPECT_FALSE(XMacFile::RealPath(deep.c_str(), false, exact, sizeof(exact)));

	VFilePath path;
	XMacFile::GetFilePathFromPosixPath("/tmp/a\xFF", false, path);
	EXPECT_FALSE(path.IsFile());
	EXPECT_FALSE(path.IsFolder());
	XMacFile::GetFilePathFromPosixPath("/tmp/a", true, path);
	VString text;
	path.GetPosixPath(text);
	EXPECT_EQ(to_string(text), "/tmp/a/");
}

TEST_F(XMacFileTest, ModesAndAttributes)
{
	Write("t.txt", "12345");
	Write(".hidden", "");
	std::filesystem::create_symlink(Full("t.txt"), Full("link"));
	::chmod(Full("t.txt").c_str(), 0640);

	// A link has no mode of its own: setting it leaves the target alone.
	EXPECT_EQ(XMacFile(Path("link")).SetPermissions(0777), VE_OK);
	EXPECT_EQ(XMacFile(Path("link")).MakeWritableByAll(), VE_OK);
	uint16 mode = 0;
	XMacFile file(Path("t.txt"));
	EXPECT_EQ(file.GetPermissions(&mode), VE_OK);
	EXPECT_EQ(mode, 0640);
	EXPECT_FALSE(file.IsWritableByAll());
	EXPECT_EQ(file.MakeWritableByAll(), VE_OK);
	EXPECT_TRUE(file.IsWritableByAll());
	EXPECT_EQ(file.GetPermissions(&mode), VE_OK);
	EXPECT_EQ(mode, 0666);

	int64 size = 0;
	EXPECT_EQ(file.GetSize(&size), VE_OK);
	EXPECT_EQ(size, 5);
	EXPECT_EQ(XMacFile(Path("missing")).GetSize(&size), Posix(ENOENT));

	uint32 attrs = 9;
	EXPECT_EQ(XMacFile(Path(".hidden")).GetFileAttributes(attrs), VE_OK);
	EXPECT_EQ(attrs, 2u);
	EXPECT_EQ(file.GetFileAttributes(attrs), VE_OK);
	EXPECT_EQ(attrs, 0u);

	// Times to the millisecond, before and after 1970; a link's own times, not its target's.
	const int64 epoch = int64(VTime::ComputeJulianDay(1970, 1, 1)) * VTime::kMS_PER_DAY;
	for (int64 since : {int64(1234567890123), int64(-1500)})
	{
		SCOPED_TRACE(since);
		VTime modified;
		modified.FromMilliseconds(epoch + since);
		EXPECT_EQ(XMacFile(Path("link")).SetTimeAttributes(&modified, nullptr, nullptr), VE_OK);
		VTime read;
		VTime created;
		EXPECT_EQ(XMacFile(Path("link")).GetTimeAttributes(&read, &created, nullptr), VE_OK);
		EXPECT_EQ(read.GetMilliseconds(), epoch + since);
		EXPECT_EQ(file.GetTimeAttributes(&read, nullptr, nullptr), VE_OK);
		EXPECT_NE(read.GetMilliseconds(), epoch + since);
	}

	EXPECT_TRUE(XMacFile(Path("link")).Exists());
	EXPECT_FALSE(XMacFile(Path("missing")).Exists());
	EXPECT_EQ(XMacFile(Path("link")).Delete(), VE_OK);
	EXPECT_TRUE(file.Exists());
}

TEST_F(XMacFileTest, TrashAndTypeIdentifier)
{
	const char* old = ::getenv("XDG_DATA_HOME");
	const std::string saved = old != nullptr ? old : "";
	::setenv("XDG_DATA_HOME", Full("data").c_str(), 1);
	Write("a.txt", "trashed");
	EXPECT_EQ(XMacFile(Path("a.txt")).MoveToTrash(), VE_OK);
	EXPECT_EQ(Read("data/Trash/files/a.txt"), "trashed");
	EXPECT_EQ(XMacFile(Path("a.txt")).MoveToTrash(), Posix(ENOENT));
	if (old != nullptr)
		::setenv("XDG_DATA_HOME", saved.c_str(), 1);
	else
		::unsetenv("XDG_DATA_HOME");

	VString identifier("stale");
	EXPECT_EQ(XMacFile(Path("data/")).GetUTIString(identifier), VE_OK);
	EXPECT_EQ(to_string(identifier), "inode/directory");
	EXPECT_EQ(XMacFile(Path("missing.txt")).GetUTIString(identifier), Posix(ENOENT));
	EXPECT_TRUE(identifier.IsEmpty());
}

// Where a copy runs: directly on a thread of its own kind, on another thread when called from a fiber task,
// whose thread must go on running the other fibers. Fiber tasks need a process that allows fibers, which the
// test process does not: that case runs in a child process that brings the toolbox up again with fibers.
TEST_F(XMacFileTest, CopiesOnAFiberTaskRunOnAnotherThread)
{
	const auto ranElsewhere = []() {
		const std::thread::id caller = std::this_thread::get_id();
		std::thread::id worker = caller;
		const int result = XMacFile::_RunCopyOrMove([&worker]() {
			worker = std::this_thread::get_id();
			return 7;
		});
		return result == 7 && worker != caller;
	};
	EXPECT_FALSE(ranElsewhere());

	Write("a.txt", "bytes");
	const auto scenario = [&]() {
		dup2(STDERR_FILENO, STDOUT_FILENO);
		delete VTestEnvironment::GetProcess();
		VProcess* process = new VProcess;
		bool passed = process->Init(0x02) && VTask::GetCurrent() != nullptr && VTask::GetCurrent()->IsFiber();
		passed = passed && ranElsewhere();
		passed = passed && XMacFile(Path("a.txt")).Copy(Path("b.txt"), nullptr, 0) == VE_OK && Read("b.txt") == "bytes";
		delete process;
		std::exit(passed ? 0 : 1);
	};
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	EXPECT_EXIT(scenario(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace velk
