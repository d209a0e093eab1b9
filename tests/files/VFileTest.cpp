// Files and folders over POSIX paths: text round trips with byte-order marks, character sets and line ends;
// writes that fail leave the file as it was; missing files; times; relative and parent paths.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/values/VTime.h"
#include "platform/FileOperations.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

constexpr VError kFileNotFound = MakeVError(kVELK_SIGNATURE, 600);
constexpr VError kOpenFailed = MakeVError(kVELK_SIGNATURE, 602);

std::u16string Units(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

class VFileTest : public test::VTemporaryFolderTest
{
protected:
	std::vector<std::string> Entries() const
	{
		std::vector<std::string> names;
		for (const auto& entry : std::filesystem::directory_iterator(fRoot))
			names.push_back(entry.path().filename().string());
		return names;
	}
};

struct RoundTrip
{
	const char* name;
	const char16_t* text;
	CharSet charSet;
	ECarriageReturnMode writeMode;
	bool withBOM;
	std::string bytes;  // the file as written
	CharSet readCharSet;  // the set assumed when no mark says otherwise
	ECarriageReturnMode readMode;
	const char16_t* readBack;
};

TEST_F(VFileTest, TextRoundTripsThroughCharSetsMarksAndLineEnds)
{
	const RoundTrip rows[] = {
		{"UTF-8, line ends kept", u"a\r\nb\nc\r\u00E9", kCharSet_UTF8, eCRM_NONE, false, "a\r\nb\nc\r\xC3\xA9", kCharSet_UTF8,
			eCRM_NONE, u"a\r\nb\nc\r\u00E9"},
		{"UTF-8 mark wins over the assumed set", u"\u00E9\r\nx", kCharSet_UTF8, eCRM_LF, true, "\xEF\xBB\xBF\xC3\xA9\nx",
			kCharSet_ISO8859_1, eCRM_NONE, u"\u00E9\nx"},
		{"UTF-16 big-endian with mark, CR LF", u"a\nb", kCharSet_UTF16BE, eCRM_CRLF, true,
			std::string("\xFE\xFF\0a\0\r\0\n\0b", 10), kCharSet_UTF8, eCRM_NONE, u"a\r\nb"},
		{"UTF-16 machine order with mark, CR", u"a\r\nb\U0001F600", kCharSet_UTF16, eCRM_CR, true,
			std::string("\xFF\xFE" "a\0\r\0b\0\x3D\xD8\x00\xDE", 12), kCharSet_UTF8, eCRM_NONE, u"a\rb\U0001F600"},
		{"UTF-16 without mark read as assumed", u"xy", kCharSet_UTF16BE, eCRM_NONE, false, std::string("\0x\0y", 4),
			kCharSet_UTF16BE, eCRM_NONE, u"xy"},
		{"line ends converted on reading", u"a\r\nb\rc\n", kCharSet_UTF8, eCRM_NONE, false, "a\r\nb\rc\n", kCharSet_UTF8,
			eCRM_LF, u"a\nb\nc\n"},
		{"Latin-1", u"caf\u00E9", kCharSet_ISO8859_1, eCRM_NONE, true, "caf\xE9", kCharSet_ISO8859_1, eCRM_NONE,
			u"caf\u00E9"},
		{"empty text writes no mark", u"", kCharSet_UTF8, eCRM_NONE, true, "", kCharSet_UTF8, eCRM_NONE, u""},
	};
	for (const RoundTrip& row : rows)
	{
		SCOPED_TRACE(row.name);
		VRefPtr<VFile> file = File("text.txt");
		// Something longer first: the new content replaces it whole.
		Write("text.txt", std::string(100, 'z'));
		EXPECT_EQ(file->SetContentAsString(VString(row.text), row.charSet, row.writeMode, row.withBOM), VE_OK);
		EXPECT_EQ(Read("text.txt"), row.bytes);
		VString back("left over");
		EXPECT_EQ(file->GetContentAsString(back, row.readCharSet, row.readMode), VE_OK);
		EXPECT_EQ(Units(back), row.readBack);
		EXPECT_EQ(VTask::GetLastError(), VE_OK);
	}
	EXPECT_EQ(Entries(), std::vector<std::string>{"text.txt"});
}

TEST_F(VFileTest, ReplacingKeepsPermissionsAndWritesThroughLinks)
{
	Write("target.txt", "old");
	ASSERT_EQ(chmod((fRoot + "target.txt").c_str(), 0640), 0);
	ASSERT_EQ(symlink((fRoot + "target.txt").c_str(), (fRoot + "link.txt").c_str()), 0);

	EXPECT_EQ(File("link.txt")->SetContentAsString(VString("new"), kCharSet_UTF8, eCRM_NONE, false), VE_OK);
	EXPECT_EQ(Read("target.txt"), "new");
	struct stat status;
	ASSERT_EQ(lstat((fRoot + "link.txt").c_str(), &status), 0);
	EXPECT_TRUE(S_ISLNK(status.st_mode));
	ASSERT_EQ(stat((fRoot + "target.txt").c_str(), &status), 0);
	EXPECT_EQ(status.st_mode & 07777, 0640u);
}

struct FailedWrite
{
	const char* name;
	plat::WriteStep step;  // the step made to fail, with errorNumber
	int errorNumber;
	const char16_t* text;
	CharSet charSet;
	VError code;  // the error answered and last pushed
};

TEST_F(VFileTest, FailedWriteLeavesTheFileAsItWas)
{
	const FailedWrite rows[] = {
		{"disk full while writing", plat::WriteStep::kWrite, ENOSPC, u"new", kCharSet_UTF8, kOpenFailed},
		{"no room for the new file", plat::WriteStep::kCreate, EDQUOT, u"new", kCharSet_UTF8, kOpenFailed},
		{"access refused", plat::WriteStep::kCreate, EACCES, u"new", kCharSet_UTF8, VE_ACCESS_DENIED},
		{"busy rename", plat::WriteStep::kRename, EBUSY, u"new", kCharSet_UTF8, kOpenFailed},
		{"no converter", plat::WriteStep::kNone, 0, u"new", CharSet(9999), MakeVError(kVELK_SIGNATURE, 208)},
	};
	for (bool existed : {true, false})
	{
		for (const FailedWrite& row : rows)
		{
			SCOPED_TRACE(testing::Message() << row.name << (existed ? ", file existed" : ", no file before"));
			std::filesystem::remove(fRoot + "data.txt");
			if (existed)
				Write("data.txt", "original");
			VRefPtr<VFile> file = File("data.txt");
			plat::SetWriteFaultForTesting(row.step, row.errorNumber);
			StErrorContextInstaller scope(false, true);
			EXPECT_EQ(file->SetContentAsString(VString(row.text), row.charSet, eCRM_NONE, false), row.code);
			plat::SetWriteFaultForTesting(plat::WriteStep::kNone, 0);
			EXPECT_EQ(scope.GetLastError(), row.code);
			if (row.errorNumber != 0)
			{
				// The system's own error is kept beneath the file error, which names the file.
				EXPECT_NE(scope.Find(MakeVError(kPOSIX_SIGNATURE, row.errorNumber)), nullptr);
				VString path;
				ASSERT_NE(scope.GetLast(), nullptr);
				EXPECT_TRUE(scope.GetLast()->GetString(VString("path"), path));
				EXPECT_EQ(to_string(path), fRoot + "data.txt");
			}
			EXPECT_EQ(file->Exists(), existed);
			if (existed)
			{
				EXPECT_EQ(Read("data.txt"), "original");
			}
			// No partial file is left beside it.
			EXPECT_EQ(Entries().size(), existed ? 1u : 0u);
		}
	}
}

TEST_F(VFileTest, MissingFileReportsNotFound)
{
	VRefPtr<VFile> file = File("missing.json");
	EXPECT_FALSE(file->Exists());

	StErrorContextInstaller scope(false, true);
	VString text("stale");
	EXPECT_EQ(file->GetContentAsString(text, kCharSet_UTF8, eCRM_NONE), kFileNotFound);
	EXPECT_TRUE(text.IsEmpty());
	EXPECT_NE(scope.Find(MakeVError(kPOSIX_SIGNATURE, ENOENT)), nullptr);
	VString name;
	EXPECT_TRUE(scope.GetLast()->GetString(VString("name"), name));
	EXPECT_EQ(to_string(name), "missing.json");

	VTime modified;
	modified.FromMilliseconds(1000);
	EXPECT_EQ(file->GetTimeAttributes(&modified, nullptr, nullptr), kFileNotFound);
	EXPECT_NE(modified.GetMilliseconds(), 1000);

	// A folder is not a file: reading it fails with the generic code.
	std::filesystem::create_directory(fRoot + "folder.json");
	EXPECT_FALSE(File("folder.json")->Exists());
	EXPECT_EQ(File("folder.json")->GetContentAsString(text, kCharSet_UTF8, eCRM_NONE), kOpenFailed);
}

TEST_F(VFileTest, ModificationTimeIsTheFilesInUTC)
{
	Write("dated.txt", "x");
	std::filesystem::create_directory(fRoot + "dated");
	// 2021-03-04 05:06:07.089 UTC.
	const timespec times[2] = {{1614834367, 89000000}, {1614834367, 89000000}};
	ASSERT_EQ(utimensat(AT_FDCWD, (fRoot + "dated.txt").c_str(), times, 0), 0);
	ASSERT_EQ(utimensat(AT_FDCWD, (fRoot + "dated").c_str(), times, 0), 0);

	VRefPtr<VFolder> folder(new VFolder(VString((fRoot + "dated").c_str()), FPS_POSIX), true);
	VTime modified;
	VTime accessed;
	VTime created;
	ASSERT_EQ(File("dated.txt")->GetTimeAttributes(&modified, &created, &accessed), VE_OK);
	int16 fields[7];
	modified.GetUTCTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6]);
	EXPECT_EQ(std::vector<int16>(fields, fields + 7), (std::vector<int16>{2021, 3, 4, 5, 6, 7, 89}));
	EXPECT_EQ(accessed.GetMilliseconds(), modified.GetMilliseconds());

	VTime folderModified;
	ASSERT_EQ(folder->GetTimeAttributes(&folderModified, nullptr, nullptr), VE_OK);
	EXPECT_EQ(folderModified.GetMilliseconds(), modified.GetMilliseconds());
}

struct RelativeRow
{
	const char* relative;
	bool asFile;  // _RetainRelativeIFile, else RetainRelativeFolder
	const char* expected;  // path under the root; null when refused
};

TEST_F(VFileTest, RelativeAndParentPaths)
{
	std::filesystem::create_directory(fRoot + "sub");
	Write("sub/a.json", "{}");
	VRefPtr<VFolder> root(new VFolder(VString(fRoot.substr(0, fRoot.size() - 1).c_str()), FPS_POSIX), true);
	VString text;
	root->GetPlatformPath(text, FPS_POSIX);
	EXPECT_EQ(to_string(text), fRoot);
	EXPECT_TRUE(root->Exists());

	const RelativeRow rows[] = {
		{"sub", false, "sub/"},
		{"sub/", false, "sub/"},
		{"", false, ""},
		{"sub/deeper", false, "sub/deeper/"},
		{"/abs", false, nullptr},
		{"a.json", true, "a.json"},
		{"sub/a.json", true, "sub/a.json"},
		{"", true, nullptr},
		{"sub/", true, nullptr},
		{"/abs.json", true, nullptr},
	};
	for (const RelativeRow& row : rows)
	{
		SCOPED_TRACE(testing::Message() << (row.asFile ? "file " : "folder ") << '"' << row.relative << '"');
		StErrorContextInstaller scope(false, true);
		VString path;
		if (row.asFile)
		{
			VRefPtr<IFile> file(root->_RetainRelativeIFile(VString(row.relative), FPS_POSIX), true);
			ASSERT_EQ(file == nullptr, row.expected == nullptr);
			if (file != nullptr)
				file->GetPlatformPath(path, FPS_POSIX);
		}
		else
		{
			VRefPtr<IFolder> folder(root->RetainRelativeFolder(VString(row.relative), FPS_POSIX), true);
			ASSERT_EQ(folder == nullptr, row.expected == nullptr);
			if (folder != nullptr)
				path = folder->GetPathWithFileSystem();
		}
		if (row.expected == nullptr)
			EXPECT_EQ(scope.GetLastError(), VE_INVALID_PARAMETER);
		else
			EXPECT_EQ(to_string(path), fRoot + row.expected);
	}

	// Existence tells files from folders.
	VRefPtr<IFile> file(root->_RetainRelativeIFile(VString("sub/a.json"), FPS_POSIX), true);
	VRefPtr<IFolder> sub(root->RetainRelativeFolder(VString("sub"), FPS_POSIX), true);
	VRefPtr<IFile> notAFile(root->_RetainRelativeIFile(VString("sub"), FPS_POSIX), true);
	VRefPtr<IFolder> notAFolder(sub->RetainRelativeFolder(VString("a.json"), FPS_POSIX), true);
	EXPECT_TRUE(file->Exists());
	EXPECT_TRUE(sub->Exists());
	EXPECT_FALSE(notAFile->Exists());
	EXPECT_FALSE(notAFolder->Exists());

	// Parents: the file's folder, then up to the root, which has none.
	VRefPtr<IFolder> parent(file->RetainParentFolder(false), true);
	ASSERT_NE(parent, nullptr);
	EXPECT_EQ(to_string(parent->GetPathWithFileSystem()), fRoot + "sub/");
	VRefPtr<IFolder> up(parent->RetainParentFolder(false), true);
	ASSERT_NE(up, nullptr);
	EXPECT_EQ(to_string(up->GetPathWithFileSystem()), fRoot);
	VRefPtr<VFolder> top(new VFolder(VString("/"), FPS_POSIX), true);
	EXPECT_EQ(VRefPtr<IFolder>(top->RetainParentFolder(false), true), nullptr);
	VRefPtr<VFile> bare(new VFile(VString("name.json"), FPS_POSIX), true);
	EXPECT_EQ(VRefPtr<IFolder>(bare->RetainParentFolder(false), true), nullptr);
}

}  // namespace
}  // namespace velk
