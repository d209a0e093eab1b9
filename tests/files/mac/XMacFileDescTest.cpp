// Opening files with each access and option, with locks held by another process and final symbolic links;
// reading, writing, positions and sizes through the open file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "files/mac/XMacFile.h"
#include "files/mac/XMacFileDesc.h"

namespace velk {
namespace {

constexpr VError Posix(int errorNumber)
{
	return MakeVError(kPOSIX_SIGNATURE, errorNumber);
}

// A child process that takes a flock on the file, says so through one pipe, and keeps it until the other
// pipe closes.
class LockHolder
{
public:
	LockHolder(const std::string& path, int lock)
	{
		int ready[2];
		int release[2];
		if (lock == 0 || ::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0)
			return;
		fChild = ::fork();
		if (fChild == 0)
		{
			const int descriptor = ::open(path.c_str(), O_RDONLY);
			char byte = descriptor >= 0 && ::flock(descriptor, lock) == 0;
			::close(release[1]);
			if (::write(ready[1], &byte, 1) == 1)
				while (::read(release[0], &byte, 1) < 0 && errno == EINTR)
					continue;
			::_exit(0);
		}
		::close(ready[1]);
		::close(release[0]);
		fRelease = release[1];
		char held = 0;
		fHeld = fChild > 0 && ::read(ready[0], &held, 1) == 1 && held == 1;
		::close(ready[0]);
	}

	~LockHolder()
	{
		::close(fRelease);
		if (fChild > 0)
			::waitpid(fChild, nullptr, 0);
	}

	bool fHeld = false;

private:
	pid_t fChild = -1;
	int fRelease = -1;
};

class XMacFileDescTest : public test::VTemporaryFolderTest
{
protected:
	VError Open(const std::string& name, FileAccess access, uint32 options, std::unique_ptr<XMacFileDesc>& out)
	{
		XMacFileDesc* opened = nullptr;
		const VError result = XMacFile(*File(name)).Open(access, options, &opened);
		out.reset(opened);
		return result;
	}
};

enum class Setup
{
	kMissing,
	kFile,
	kLink,  // "link" names "file"
	kFolder
};

struct OpenRow
{
	const char* name;
	Setup setup;
	int held;  // the flock another process holds on "file", 0 for none
	FileAccess access;
	uint32 options;
	VError expected;
	const char* content;  // of "file" after the open; null when no file may be there
	bool writable;
};

TEST_F(XMacFileDescTest, OpenHonoursAccessOptionsAndLocksHeldElsewhere)
{
	const uint32 kMake = FO_CREATE_IF_NOT_FOUND | FO_TRUNCATE | FO_FOLLOW_LINK;
	const OpenRow rows[] = {
		{"read", Setup::kFile, 0, FA_READ, 0, VE_OK, "content", false},
		{"read, created", Setup::kMissing, 0, FA_READ, FO_CREATE_IF_NOT_FOUND, VE_OK, "", false},
		{"read never truncates", Setup::kFile, 0, FA_READ, FO_TRUNCATE, VE_OK, "content", false},
		{"read-write", Setup::kFile, 0, FA_READ_WRITE, 0, VE_OK, "content", true},
		{"read-write, truncated", Setup::kFile, 0, FA_READ_WRITE, FO_TRUNCATE, VE_OK, "", true},
		{"read-write, missing", Setup::kMissing, 0, FA_READ_WRITE, FO_TRUNCATE, Posix(ENOENT), nullptr, false},
		{"read-write, created", Setup::kMissing, 0, FA_READ_WRITE, kMake, VE_OK, "", true},
		{"shared, truncated", Setup::kFile, 0, FA_SHARED, FO_TRUNCATE, VE_OK, "", true},
		{"either, unlocked", Setup::kFile, 0, FA_READ_WRITE_OR_READ, 0, VE_OK, "content", true},
		{"hints", Setup::kFile, 0, FA_READ_WRITE, FO_READ_AHEAD | FO_NO_CACHE, VE_OK, "content", true},
		{"resource fork", Setup::kFile, 0, FA_READ_WRITE, FO_RESOURCE_FORK | kMake, Posix(ENOTSUP), "content", false},
		{"unknown access", Setup::kFile, 0, FileAccess(4), FO_TRUNCATE, Posix(EINVAL), "content", false},
		{"final link refused", Setup::kLink, 0, FA_READ_WRITE, FO_TRUNCATE, Posix(ELOOP), "content", false},
		{"final link followed", Setup::kLink, 0, FA_READ_WRITE, FO_TRUNCATE | FO_FOLLOW_LINK, VE_OK, "", true},
		{"folder", Setup::kFolder, 0, FA_READ_WRITE, 0, Posix(EISDIR), nullptr, false},
		{"locked, read-write", Setup::kFile, LOCK_EX, FA_READ_WRITE, FO_TRUNCATE, Posix(EACCES), "content", false},
		{"locked, shared", Setup::kFile, LOCK_EX, FA_SHARED, FO_TRUNCATE, Posix(EACCES), "content", false},
		{"locked, either falls back", Setup::kFile, LOCK_EX, FA_READ_WRITE_OR_READ, FO_TRUNCATE, VE_OK, "content",
			false},
		{"shared lock, shared", Setup::kFile, LOCK_SH, FA_SHARED, 0, VE_OK, "content", true},
		{"shared lock, read-write", Setup::kFile, LOCK_SH, FA_READ_WRITE, FO_TRUNCATE, Posix(EACCES), "content", false},
	};
	const mode_t mask = ::umask(022);
	::umask(mask);
	for (const OpenRow& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::filesystem::remove_all(fRoot + "file");
		std::filesystem::remove(fRoot + "link");
		if (row.setup == Setup::kFile || row.setup == Setup::kLink)
			Write("file", "content");
		if (row.setup == Setup::kLink)
			std::filesystem::create_symlink("file", fRoot + "link");
		if (row.setup == Setup::kFolder)
			std::filesystem::create_directory(fRoot + "file");
		LockHolder holder(fRoot + "file", row.held);
		ASSERT_EQ(holder.fHeld, row.held != 0);

		std::unique_ptr<XMacFileDesc> desc;
		EXPECT_EQ(Open(row.setup == Setup::kLink ? "link" : "file", row.access, row.options, desc), row.expected);
		ASSERT_EQ(desc != nullptr, row.expected == VE_OK);
		ASSERT_EQ(std::filesystem::is_regular_file(fRoot + "file"), row.content != nullptr);
		if (row.content == nullptr)
			continue;
		EXPECT_EQ(Read("file"), row.content);
		struct stat info;
		ASSERT_EQ(::stat((fRoot + "file").c_str(), &info), 0);
		if (row.setup == Setup::kMissing)
		{
			EXPECT_EQ(info.st_mode & 0777, 0644 & ~mask);
		}
		size_t count = 1;
		if (desc != nullptr)
		{
			EXPECT_EQ(desc->PutData("!", count, info.st_size, true) == VE_OK, row.writable);
		}
	}
}

struct ReadRow
{
	const char* name;
	int64 position;  // before the read
	int64 offset;
	bool absolute;
	size_t count;
	size_t read;
	VError expected;
	int64 positionAfter;
};

TEST_F(XMacFileDescTest, ReadsAtPositionsAndStopsAtTheEnd)
{
	std::string content;
	for (int i = 0; i < 100; ++i)
		content += char('a' + i % 26);
	Write("file", content);
	std::unique_ptr<XMacFileDesc> desc;
	ASSERT_EQ(Open("file", FA_READ, 0, desc), VE_OK);

	const ReadRow rows[] = {
		{"within", 50, 10, true, 20, 20, VE_OK, 50},
		{"across the end", 50, 95, true, 10, 5, VE_STREAM_EOF, 50},
		{"at the end", 50, 100, true, 10, 0, VE_STREAM_EOF, 50},
		{"nothing asked", 50, 0, true, 0, 0, VE_OK, 50},
		{"relative with an offset", 40, 10, false, 20, 20, VE_OK, 60},
		{"relative across the end", 95, 0, false, 10, 5, VE_STREAM_EOF, 100},
		{"before the start", 50, -1, true, 10, 0, Posix(EINVAL), 50},
		{"relative beyond every position", INT64_MAX, 1, false, 10, 0, Posix(EINVAL), INT64_MAX},
	};
	for (const ReadRow& row : rows)
	{
		SCOPED_TRACE(row.name);
		ASSERT_EQ(desc->SetPos(row.position, true), VE_OK);
		char buffer[32] = {};
		size_t count = row.count;
		EXPECT_EQ(desc->GetData(buffer, count, row.offset, row.absolute), row.expected);
		ASSERT_EQ(count, row.read);
		EXPECT_EQ(std::string(buffer, count),
			count == 0 ? "" : content.substr(size_t(row.absolute ? row.offset : row.position + row.offset), count));
		int64 position = -1;
		EXPECT_EQ(desc->GetPos(&position), VE_OK);
		EXPECT_EQ(position, row.positionAfter);
	}
}

TEST_F(XMacFileDescTest, WritesMovePositionsAndSizes)
{
	std::unique_ptr<XMacFileDesc> desc;
	ASSERT_EQ(Open("file", FA_READ_WRITE, FO_CREATE_IF_NOT_FOUND, desc), VE_OK);
	size_t counts[] = {3, 3, 2};
	EXPECT_EQ(desc->PutData("abc", counts[0], 0, false), VE_OK);
	EXPECT_EQ(desc->PutData("def", counts[1], 0, false), VE_OK);
	EXPECT_EQ(desc->PutData("XY", counts[2], 8, true), VE_OK);
	EXPECT_EQ(desc->Flush(), VE_OK);
	EXPECT_EQ(Read("file"), std::string("abcdef\0\0XY", 10));
	int64 position = 0;
	EXPECT_EQ(desc->GetPos(&position), VE_OK);
	EXPECT_EQ(position, 6);
	EXPECT_EQ(desc->SetPos(50, true), VE_OK);
	EXPECT_EQ(desc->SetPos(-10, false), VE_OK);
	EXPECT_EQ(desc->SetPos(INT64_MAX, false), Posix(EINVAL));
	EXPECT_EQ(desc->GetPos(&position), VE_OK);
	EXPECT_EQ(position, 40);

	int64 size = -1;
	EXPECT_EQ(desc->SetSize(4), VE_OK);
	EXPECT_EQ(desc->GetSize(&size), VE_OK);
	EXPECT_EQ(size, 4);
	EXPECT_EQ(desc->SetSize(6), VE_OK);
	EXPECT_EQ(desc->SetSize(-1), Posix(EINVAL));
	EXPECT_EQ(desc->GetSize(&size), VE_OK);
	EXPECT_EQ(size, 6);
	EXPECT_EQ(Read("file"), std::string("abcd\0\0", 6));
}

}  // namespace
}  // namespace velk
