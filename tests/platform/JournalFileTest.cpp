// The journal file: its size fixed when made, records that a torn write cannot destroy together with the
// one before them, an earlier version's record taken over, and one holder at a time.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/JournalFile.h"

namespace {

namespace fs = std::filesystem;
using plat::JournalFile;

constexpr size_t kSlot = JournalFile::kSlotSize;

class JournalFileTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-journal-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = std::string(pattern) + "/";
		fPath = fRoot + ".Name.app.velk-update";
	}

	void TearDown() override { fs::remove_all(fRoot); }

	std::string Bytes() const
	{
		std::ifstream in(fPath, std::ios::binary);
		return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
	}

	void PutBytes(const std::string& bytes) const { std::ofstream(fPath, std::ios::binary | std::ios::trunc) << bytes; }

	// The newest whole record as a fresh holder reads it.
	std::string ReadBack(bool& torn) const
	{
		JournalFile file(fPath);
		bool waited = false;
		EXPECT_EQ(file.Lock(0, waited), 0);
		std::string text;
		EXPECT_EQ(file.Read(text, torn), 0);
		return text;
	}

	std::string fRoot;
	std::string fPath;
};

// Records written one after the other, the newest then torn as a power loss tears it: the one before it is
// read, and the tear is told. Slots alternate, so the newest of an odd count sits in the first slot.
TEST_F(JournalFileTest, ATornRecordLeavesTheOneBeforeIt)
{
	const std::vector<std::string> records = {"step=copying\n", "step=swapping\nold=12\n", "step=installed\nold=12\nnew=13\n"};
	struct Row
	{
		const char* fName;
		size_t fWritten;  // records written before the tear
		// Tears the bytes of the file; newest is the offset of the newest record's slot.
		std::function<void(std::string& bytes, size_t newest)> fTear;
		const char* fExpected;
		bool fTorn;
	};
	const Row rows[] = {
		{"whole", 3, [](std::string&, size_t) {}, "step=installed\nold=12\nnew=13\n", false},
		{"the newest cut short", 3, [](std::string& bytes, size_t newest) { bytes.replace(newest + 40, kSlot - 40, kSlot - 40, '\0'); },
			"step=swapping\nold=12\n", true},
		{"the newest zeroed", 3, [](std::string& bytes, size_t newest) { bytes.replace(newest, kSlot, kSlot, '\0'); },
			"step=swapping\nold=12\n", false},
		{"the newest's tail from the other slot", 2,
			[](std::string& bytes, size_t newest) {
				const size_t other = newest == 0 ? kSlot : 0;
				bytes.replace(newest + 36, 20, bytes.substr(other + 36, 20));
			},
			"step=copying\n", true},
		{"the only record torn", 1, [](std::string& bytes, size_t newest) { bytes[newest + 33] ^= 0x20; }, "", true},
		{"the file cut inside the second slot", 2, [](std::string& bytes, size_t) { bytes.resize(kSlot + 20); }, "step=copying\n",
			true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		fs::remove(fPath);
		{
			JournalFile file(fPath);
			bool waited = false;
			ASSERT_EQ(file.Lock(0, waited), 0);
			for (size_t i = 0; i < row.fWritten; ++i)
				ASSERT_EQ(file.Write(records[i]), 0);
		}
		std::string bytes = Bytes();
		ASSERT_EQ(bytes.size(), 2 * kSlot);
		row.fTear(bytes, row.fWritten % 2 == 1 ? 0 : kSlot);
		PutBytes(bytes);
		bool torn = false;
		EXPECT_EQ(ReadBack(torn), row.fExpected);
		EXPECT_EQ(torn, row.fTorn);
	}
}

// After a tear the next record goes where the torn one was, never over the record that survived it; and a
// record too long for a slot is refused with the last one kept.
TEST_F(JournalFileTest, WritesNeverOverwriteTheNewestWholeRecord)
{
	JournalFile file(fPath);
	bool waited = false;
	ASSERT_EQ(file.Lock(0, waited), 0);
	ASSERT_EQ(file.Write("first\n"), 0);
	ASSERT_EQ(file.Write("second\n"), 0);
	// The second record (second slot) torn while the file stays locked.
	std::string bytes = Bytes();
	bytes[kSlot + 34] ^= 0x01;
	{
		std::fstream out(fPath, std::ios::binary | std::ios::in | std::ios::out);
		out.write(bytes.data(), std::streamsize(bytes.size()));
	}
	std::string text;
	bool torn = false;
	ASSERT_EQ(file.Read(text, torn), 0);
	EXPECT_EQ(text, "first\n");
	EXPECT_TRUE(torn);
	ASSERT_EQ(file.Write("third\n"), 0);
	EXPECT_EQ(Bytes().compare(32, 6, "first\n"), 0) << "the surviving record was overwritten";
	EXPECT_EQ(file.Write(std::string(JournalFile::kLongestRecord + 1, 'x')), ENAMETOOLONG);
	ASSERT_EQ(file.Read(text, torn), 0);
	EXPECT_EQ(text, "third\n");
	EXPECT_FALSE(torn);
	EXPECT_EQ(file.Write(std::string(JournalFile::kLongestRecord, 'y')), 0);
	EXPECT_EQ(Bytes().size(), 2 * kSlot);
}

// The file gets its whole size once, when made; what an earlier version wrote is taken over when whole and
// dropped otherwise; the file of something else at the path is refused.
TEST_F(JournalFileTest, MadeWithItsWholeSize)
{
	struct Row
	{
		const char* fName;
		std::function<void()> fBefore;
		int fLocked;
		const char* fRecord;
		bool fTorn;
	};
	const Row rows[] = {
		{"new", [] {}, 0, "", false},
		{"an earlier version's record", [&] { PutBytes("velk-swap 1 13\nstep=copying\nleft over"); }, 0, "step=copying\n", false},
		{"an earlier version's record cut short", [&] { PutBytes("velk-swap 1 400\nstep=copying\n"); }, 0, "", true},
		{"an empty file", [&] { PutBytes(""); }, 0, "", false},
		{"a folder", [&] { fs::create_directory(fPath); }, EISDIR, "", false},
		{"a link", [&] { fs::create_symlink(fRoot + "elsewhere", fPath); }, ELOOP, "", false},
		{"a pipe", [&] { ASSERT_EQ(::mkfifo(fPath.c_str(), 0600), 0); }, EINVAL, "", false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		fs::remove_all(fPath);
		row.fBefore();
		JournalFile file(fPath);
		bool waited = false;
		ASSERT_EQ(file.Lock(0, waited), row.fLocked);
		if (row.fLocked != 0)
		{
			EXPECT_FALSE(file.IsLocked());
			continue;
		}
		EXPECT_EQ(fs::file_size(fPath), 2 * kSlot);
		std::string text;
		bool torn = true;
		ASSERT_EQ(file.Read(text, torn), 0);
		EXPECT_EQ(text, row.fRecord);
		EXPECT_EQ(torn, row.fTorn);
		ASSERT_EQ(file.Remove(), 0);
		EXPECT_FALSE(fs::exists(fPath));
	}
}

// Another process holds the lock: a holder that does not wait is refused at once with EWOULDBLOCK.
TEST_F(JournalFileTest, OneHolderAtATime)
{
	JournalFile first(fPath);
	bool waited = false;
	ASSERT_EQ(first.Lock(0, waited), 0);
	EXPECT_FALSE(waited);
	const pid_t child = ::fork();
	if (child == 0)
	{
		JournalFile second(fPath);
		bool childWaited = false;
		const int locked = second.Lock(100, childWaited);
		::_exit(locked == EWOULDBLOCK && childWaited ? 0 : 1);
	}
	int status = 0;
	ASSERT_EQ(::waitpid(child, &status, 0), child);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
