// Files and folders over POSIX paths: text round trips with byte-order marks, character sets and line ends;
// writes that fail leave the file as it was; missing files; times; relative and parent paths.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "files/VFileError.h"
#include "files/VFileKindManager.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "files/VURL.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VMemoryBuffer.h"
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
constexpr VError kReadFailed = MakeVError(kVELK_SIGNATURE, 215);

std::u16string Units(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

// The native form of a POSIX path without its volume: every '/' a ':'.
std::string ToNative(std::string posixPath)
{
	for (char& c : posixPath)
		c = c == '/' ? ':' : c;
	return posixPath;
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
		{"UTF-8 keeps lone surrogates", u"\xDE00" u"a\xD800" u"b", kCharSet_UTF8, eCRM_NONE, false, "\xED\xB8\x80" "a\xED\xA0\x80" "b",
			kCharSet_UTF8, eCRM_NONE, u"\xDE00" u"a\xD800" u"b"},
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

// A file's extended attributes, name to value, its access list among them.
std::map<std::string, std::string> Attributes(const std::string& path)
{
	std::map<std::string, std::string> attributes;
	char names[4096];
	const ssize_t size = listxattr(path.c_str(), names, sizeof(names));
	for (ssize_t at = 0; at < size; at += ssize_t(std::strlen(names + at)) + 1)
	{
		char value[1024];
		const ssize_t length = getxattr(path.c_str(), names + at, value, sizeof(value));
		attributes[names + at] = length >= 0 ? std::string(value, size_t(length)) : "(unreadable)";
	}
	return attributes;
}

// Rewritten by root, a file keeps what a write in place keeps: owner and group, set-id bits, extended
// attributes and access list, also when it is reached through a link.
TEST_F(VFileTest, ReplacingKeepsOwnerGroupAndAttributes)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "giving a file to another owner needs root";
	// An access list that also lets user 4321 read: version 2, then (tag, permissions, id) entries.
	const uint16_t entries[][4] = {{0x01, 6, 0, 0}, {0x02, 4, 4321, 0}, {0x04, 4, 0, 0}, {0x10, 4, 0, 0}, {0x20, 0, 0, 0}};
	std::string acl("\x02\0\0\0", 4);
	for (const auto& entry : entries)
		acl.append(reinterpret_cast<const char*>(entry), sizeof(entry));
	struct Row
	{
		const char* name;
		mode_t mode;
		bool withACL;
		bool throughLink;
	};
	const Row rows[] = {
		{"owner, group and attributes", 0640, false, false},
		{"set-id bits, which a change of owner clears", 06755, false, false},
		{"an access list", 0640, true, false},
		{"through a link", 0600, false, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		const std::string target = fRoot + "target.txt";
		std::filesystem::remove(target);
		std::filesystem::remove(fRoot + "link.txt");
		Write("target.txt", "old");
		ASSERT_EQ(chown(target.c_str(), 1234, 2345), 0);
		ASSERT_EQ(chmod(target.c_str(), row.mode), 0);
		if (setxattr(target.c_str(), "user.velk.tag", "kept", 4, 0) != 0)
			GTEST_SKIP() << "extended attributes refused here: " << std::strerror(errno);
		if (row.withACL && setxattr(target.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
			GTEST_SKIP() << "access lists refused here: " << std::strerror(errno);
		if (row.throughLink)
		{
			ASSERT_EQ(symlink(target.c_str(), (fRoot + "link.txt").c_str()), 0);
		}
		struct stat before;
		ASSERT_EQ(stat(target.c_str(), &before), 0);
		const std::map<std::string, std::string> attributes = Attributes(target);
		ASSERT_EQ(attributes.count("user.velk.tag"), 1u);
		ASSERT_EQ(attributes.count("system.posix_acl_access"), row.withACL ? 1u : 0u);

		EXPECT_EQ(File(row.throughLink ? "link.txt" : "target.txt")->SetContent("new", 3), VE_OK);
		EXPECT_EQ(Read("target.txt"), "new");
		struct stat after;
		ASSERT_EQ(stat(target.c_str(), &after), 0);
		EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not written in place
		EXPECT_EQ(after.st_uid, 1234u);
		EXPECT_EQ(after.st_gid, 2345u);
		EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
		EXPECT_EQ(Attributes(target), attributes);
	}
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
				EXPECT_EQ(to_string(path), "Root" + ToNative(fRoot + "data.txt"));
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

	// A folder is not a file: it opens for reading, but reading it fails with the reading code.
	std::filesystem::create_directory(fRoot + "folder.json");
	EXPECT_FALSE(File("folder.json")->Exists());
	EXPECT_EQ(File("folder.json")->GetContentAsString(text, kCharSet_UTF8, eCRM_NONE), kReadFailed);
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
	const char* expected;  // path under the root (a full path when it begins with '/'); null when refused
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
		{"/abs", false, "/abs/"},  // a full POSIX path leaves the base
		{"a.json", true, "a.json"},
		{"sub/a.json", true, "sub/a.json"},
		{"", true, nullptr},
		{"sub/", true, nullptr},
		{"/abs.json", true, "/abs.json"},
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
		if (row.expected != nullptr)
		{
			EXPECT_EQ(to_string(path), row.expected[0] == '/' ? std::string(row.expected) : fRoot + row.expected);
		}
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

// ---------------------------------------------------------------------------------------------------------
// Operations and their file errors

struct OperationRow
{
	const char* name;
	const char* relative;  // the file operated on, under the folder
	std::function<VError(const VFile&, const std::string& root)> run;
	VError code;
	int errorNumber;  // the system's error kept beneath the file error; 0 when the disk is never asked
	std::vector<std::pair<const char*, std::string>> texts;  // parameters holding text
	std::vector<std::pair<const char*, int64>> numbers;  // parameters holding numbers
};

VFilePath PosixPath(const std::string& path)
{
	return VFilePath(VString(path.c_str()), FPS_POSIX);
}

std::string NativeText(const VFilePath& path)
{
	VString text;
	path.GetPath(text);
	return to_string(text);
}

TEST_F(VFileTest, FailedOperationsPushTheirCodeAndParameters)
{
	Write("plain.txt", "plain");
	Write("other.txt", "other");
	std::filesystem::create_directory(fRoot + "folder.txt");
	ASSERT_EQ(symlink((fRoot + "plain.txt").c_str(), (fRoot + "link.txt").c_str()), 0);
	ASSERT_EQ(symlink((fRoot + "gone.txt").c_str(), (fRoot + "dangling.txt").c_str()), 0);
	const VFilePath invalid(VString("not/a/full/path"), FPS_POSIX);
	ASSERT_FALSE(invalid.IsValid());
	const std::string copy = "Root" + ToNative(fRoot) + "copy.txt";
	setenv("XDG_DATA_HOME", (fRoot + "data").c_str(), 1);

	const OperationRow rows[] = {
		{"open a missing file", "missing.txt",
			[](const VFile& f, const std::string&) { VFileDesc* d = nullptr; return f.Open(FA_READ, &d); },
			kFileNotFound, ENOENT, {}, {{"access", 0}, {"options", 128}}},
		{"open a link without following it", "link.txt",
			[](const VFile& f, const std::string&) { VFileDesc* d = nullptr; return f.Open(FA_READ_WRITE, &d, 0); },
			kOpenFailed, ELOOP, {}, {{"access", 1}, {"options", 0}}},
		{"open below a file", "plain.txt/x",
			[](const VFile& f, const std::string&) { VFileDesc* d = nullptr; return f.Open(FA_READ, &d); },
			kOpenFailed, ENOTDIR, {}, {{"access", 0}, {"options", 128}}},
		{"create over an existing file", "plain.txt", [](const VFile& f, const std::string&) { return f.Create(0); },
			MakeVError(kVELK_SIGNATURE, 607), EEXIST, {}, {{"options", 0}}},
		{"copy a missing file", "missing.txt",
			[](const VFile& f, const std::string& root) { return f.CopyTo(PosixPath(root + "copy.txt"), nullptr, 4); },
			kFileNotFound, ENOENT, {{"destination", copy}}, {{"options", 4}}},
		{"copy to an invalid path", "plain.txt",
			[&invalid](const VFile& f, const std::string&) { return f.CopyTo(invalid, nullptr, 0); },
			MakeVError(kVELK_SIGNATURE, 605), 0, {{"destination", NativeText(invalid)}}, {{"options", 0}}},
		{"copy over an existing file", "plain.txt",
			[](const VFile& f, const std::string& root) { return f.CopyTo(*VRefPtr<VFile>(new VFile(PosixPath(root + "other.txt")), true), 0); },
			MakeVError(kVELK_SIGNATURE, 605), EEXIST, {}, {{"options", 0}}},
		{"rename onto an existing name", "plain.txt",
			[](const VFile& f, const std::string&) { return f.Rename(VString("other.txt"), nullptr); },
			MakeVError(kVELK_SIGNATURE, 601), EEXIST, {{"newname", "other.txt"}}, {}},
		{"move a missing file", "missing.txt",
			[](const VFile& f, const std::string& root) { return f.Move(PosixPath(root + "copy.txt"), nullptr); },
			kFileNotFound, ENOENT, {{"destination", copy}}, {{"options", 0}}},
		{"move to an invalid path", "plain.txt",
			[&invalid](const VFile& f, const std::string&) { return f.Move(invalid, nullptr); },
			MakeVError(kVELK_SIGNATURE, 606), 0, {{"destination", NativeText(invalid)}}, {{"options", 0}}},
		// Nothing at the path is no failure: nothing is pushed.
		{"delete a missing file", "missing.txt", [](const VFile& f, const std::string&) { return f.Delete(); }, VE_OK, 0, {}, {}},
		{"delete below a file", "plain.txt/x", [](const VFile& f, const std::string&) { return f.Delete(); }, VE_OK, 0, {}, {}},
		{"trash a missing file", "nowhere/missing.txt", [](const VFile& f, const std::string&) { return f.MoveToTrash(); },
			VE_OK, 0, {}, {}},
		// A folder is no file to trash, and a Trash that cannot take the file leaves it in place.
		{"trash a folder", "folder.txt", [](const VFile& f, const std::string&) { return f.MoveToTrash(); },
			MakeVError(kVELK_SIGNATURE, 604), EISDIR, {}, {}},
		{"trash into a Trash that is a file", "plain.txt",
			[](const VFile& f, const std::string& root) {
				std::filesystem::create_directories(root + "data");
				std::ofstream(root + "data/Trash") << "not a folder";
				const VError result = f.MoveToTrash();
				std::filesystem::remove_all(root + "data");
				return result;
			},
			MakeVError(kVELK_SIGNATURE, 604), ENOTDIR, {}, {}},
		{"delete an invalid path", nullptr, [](const VFile& f, const std::string&) { return f.Delete(); },
			MakeVError(kVELK_SIGNATURE, 604), 0, {}, {}},
		{"delete a folder", "folder.txt", [](const VFile& f, const std::string&) { return f.Delete(); },
			MakeVError(kVELK_SIGNATURE, 604), EISDIR, {}, {}},
		{"size below a file", "plain.txt/x",
			[](const VFile& f, const std::string&) { int64 size = 7; VError e = f.GetSize(&size); return size == 0 ? e : VE_OK; },
			MakeVError(kVELK_SIGNATURE, 608), ENOTDIR, {}, {}},
		{"permissions below a file", "plain.txt/x", [](const VFile& f, const std::string&) { return f.MAC_SetPermissions(0644); },
			MakeVError(kVELK_SIGNATURE, 609), ENOTDIR, {}, {}},
		{"alias below a file", "plain.txt/x",
			[](const VFile& f, const std::string& root) { return f.CreateAlias(PosixPath(root + "other.txt"), nullptr); },
			MakeVError(kVELK_SIGNATURE, 610), ENOTDIR, {}, {}},
		{"resolve a dangling alias", "dangling.txt",
			[](const VFile& f, const std::string&) { VFilePath t(VString("/x"), FPS_POSIX); VError e = f.ResolveAlias(t); return t.IsValid() ? VE_OK : e; },
			kFileNotFound, ENOENT, {}, {}},
	};
	for (const OperationRow& row : rows)
	{
		SCOPED_TRACE(row.name);
		VRefPtr<VFile> file(row.relative != nullptr ? new VFile(PosixPath(fRoot + row.relative)) : new VFile(invalid), true);
		const std::vector<std::string> before = Entries();
		StErrorContextInstaller scope(false, true);
		EXPECT_EQ(row.run(*file, fRoot), row.code);
		if (row.code == VE_OK)
		{
			EXPECT_EQ(scope.GetLast(), nullptr);
			continue;
		}
		auto* error = dynamic_cast<VFileError*>(scope.GetLast());
		ASSERT_NE(error, nullptr);
		EXPECT_EQ(error->GetCode(), row.code);
		VString text;
		EXPECT_TRUE(error->GetString(VString("path"), text));
		EXPECT_EQ(to_string(text), row.relative != nullptr ? "Root" + ToNative(fRoot + row.relative) : NativeText(invalid));
		if (row.errorNumber != 0)
			EXPECT_NE(scope.Find(MakePosixError(row.errorNumber)), nullptr);
		else
			EXPECT_EQ(Entries(), before);  // refused before the disk was asked
		for (const auto& [key, value] : row.texts)
		{
			EXPECT_TRUE(error->GetString(VString(key), text)) << key;
			EXPECT_EQ(to_string(text), value) << key;
		}
		for (const auto& [key, value] : row.numbers)
		{
			int64 number = -1;
			EXPECT_TRUE(error->GetLong8(VString(key), number)) << key;
			EXPECT_EQ(number, value) << key;
		}
	}
	EXPECT_EQ(Read("plain.txt"), "plain");
	EXPECT_EQ(Read("other.txt"), "other");
	unsetenv("XDG_DATA_HOME");
	EXPECT_EQ(Entries().size(), 5u);  // nothing made, nothing removed
}

// Text that cannot be converted whole is a conversion error, and the file keeps its content: UTF-32 has no
// form for a lone surrogate, and in UTF-8 a high surrogate that ends the text waits for a partner.
TEST_F(VFileTest, TextThatCannotBeConvertedLeavesTheFile)
{
	const std::pair<CharSet, std::u16string> rows[] = {
		{kCharSet_UTF8, u"\xD800"},
		{kCharSet_UTF8, u"abc\xD800"},
		{kCharSet_UTF32, u"\xDC00" u"abc"},
		{kCharSet_UTF32, u"a\xD800" u"bc"},
		{kCharSet_UTF32BE, u"abc\xD800"},
	};
	for (const auto& [charSet, units] : rows)
	{
		SCOPED_TRACE(testing::Message() << charSet << " " << units.size());
		VRefPtr<VFile> file = Write("kept.txt", "old content");
		StErrorContextInstaller scope(false, true);
		const VError result = file->SetContentAsString(VString(units.data(), int32(units.size())), charSet, eCRM_NONE, false);
		EXPECT_NE(result, VE_OK);
		EXPECT_EQ(scope.GetLastError(), result);
		EXPECT_EQ(Read("kept.txt"), "old content");
	}
}

TEST_F(VFileTest, ResultsKeepTheFileSystemThatHoldsThem)
{
	std::filesystem::create_directory(fRoot + "fs");
	Write("fs/in.txt", "in");
	VRefPtr<VFolder> root(new VFolder(VString((fRoot + "fs").c_str()), FPS_POSIX), true);
	VRefPtr<VFileSystem> fileSystem(VFileSystem::Create(VString("box"), root.Get(), eFSO_WRITABLE, 0, 0), true);
	ASSERT_NE(fileSystem, nullptr);
	VRefPtr<VFolder> boxed(new VFolder(root->GetPath(), fileSystem.Get()), true);

	VRefPtr<VFile> inside(new VFile(*boxed, VString("in.txt"), FPS_POSIX), true);
	VRefPtr<VFile> outside(new VFile(*boxed, VString("../out.txt"), FPS_POSIX), true);
	EXPECT_EQ(inside->GetFileSystem(), fileSystem.Get());
	EXPECT_EQ(to_string(inside->GetPathWithFileSystem()), "/box/in.txt");
	EXPECT_EQ(outside->GetFileSystem(), nullptr);
	EXPECT_EQ(to_string(outside->GetPathWithFileSystem()), fRoot + "out.txt");

	// A copy or move into the file system carries it; one out of it does not.
	VFile* made = nullptr;
	ASSERT_EQ(inside->CopyTo(PosixPath(fRoot + "fs/copy.txt"), &made), VE_OK);
	EXPECT_EQ(VRefPtr<VFile>(made, true)->GetFileSystem(), fileSystem.Get());
	ASSERT_EQ(inside->CopyTo(PosixPath(fRoot + "copy.txt"), &made), VE_OK);
	EXPECT_EQ(VRefPtr<VFile>(made, true)->GetFileSystem(), nullptr);
	ASSERT_EQ(inside->Rename(VString("renamed.txt"), &made), VE_OK);
	VRefPtr<VFile> renamed(made, true);
	EXPECT_EQ(renamed->GetFileSystem(), fileSystem.Get());
	VRefPtr<VFolder> top(new VFolder(VString(fRoot.c_str()), FPS_POSIX), true);
	ASSERT_EQ(renamed->Move(*top, &made), VE_OK);
	EXPECT_EQ(VRefPtr<VFile>(made, true)->GetFileSystem(), nullptr);
	EXPECT_EQ(Read("renamed.txt"), "in");
	EXPECT_EQ(Read("copy.txt"), "in");

	// Parents keep the file system of their file: the root's own is authorized, even sandboxed.
	VRefPtr<VFolder> parent(inside->RetainParentVFolder(true), true);
	ASSERT_NE(parent, nullptr);
	EXPECT_EQ(parent->GetFileSystem(), fileSystem.Get());
	EXPECT_EQ(VRefPtr<VFolder>(outside->RetainParentVFolder(true), true)->GetFileSystem(), nullptr);
}

TEST_F(VFileTest, VolumeSpaceIsAskedOncePerFlagWithinItsAge)
{
	// Once the folder is gone the system cannot answer for the file: only a kept answer can.
	std::filesystem::create_directory(fRoot + "sub");
	VRefPtr<VFile> file = File("sub/x.txt");
	int64 freeBytes = -1;
	int64 totalBytes = -1;
	ASSERT_EQ(file->GetVolumeFreeSpace(&freeBytes, &totalBytes, true, 60000), VE_OK);
	EXPECT_GT(totalBytes, 0);
	EXPECT_GE(totalBytes, freeBytes);
	std::filesystem::remove(fRoot + "sub");

	StErrorContextInstaller scope(false, true);
	int64 again = -1;
	EXPECT_EQ(file->GetVolumeFreeSpace(&again, nullptr, true, 60000), VE_OK);
	EXPECT_EQ(again, freeBytes);
	EXPECT_EQ(scope.GetLastError(), VE_OK);
	// Another quota flag asks the system again, and its failure drops the kept answer.
	EXPECT_EQ(file->GetVolumeFreeSpace(&again, &totalBytes, false, 60000), kFileNotFound);
	EXPECT_EQ(again, 0);
	EXPECT_EQ(totalBytes, 0);
	EXPECT_EQ(file->GetVolumeFreeSpace(&again, nullptr, true, 60000), kFileNotFound);

	// Age 0 always asks.
	std::filesystem::create_directory(fRoot + "sub");
	ASSERT_EQ(file->GetVolumeFreeSpace(nullptr, nullptr, true, 0), VE_OK);
	std::filesystem::remove(fRoot + "sub");
	EXPECT_EQ(file->GetVolumeFreeSpace(nullptr, nullptr, true, 0), kFileNotFound);
}

TEST_F(VFileTest, AliasFilesResolveOrGo)
{
	Write("target.txt", "target");
	std::filesystem::create_directory(fRoot + "folder");
	ASSERT_EQ(symlink((fRoot + "target.txt").c_str(), (fRoot + "alias.txt").c_str()), 0);
	ASSERT_EQ(symlink((fRoot + "gone.txt").c_str(), (fRoot + "dangling.txt").c_str()), 0);
	ASSERT_EQ(symlink((fRoot + "folder").c_str(), (fRoot + "folder-alias").c_str()), 0);

	// A plain file is left as it is.
	VRefPtr<VFile> file = File("target.txt");
	VFile* before = file.Get();
	EXPECT_EQ(VFile::ResolveAliasFile(file, true), VE_OK);
	EXPECT_EQ(file.Get(), before);

	file = File("alias.txt");
	EXPECT_EQ(VFile::ResolveAliasFile(file, false), VE_OK);
	EXPECT_EQ(to_string(file->_GetPosixPath()), fRoot + "target.txt");
	EXPECT_EQ(file->GetFileSystem(), nullptr);

	StErrorContextInstaller scope(false, true);
	file = File("folder-alias");
	EXPECT_EQ(VFile::ResolveAliasFile(file, false), MakeVError(kVELK_SIGNATURE, 617));
	file = File("dangling.txt");
	EXPECT_EQ(VFile::ResolveAliasFile(file, false), kFileNotFound);
	EXPECT_TRUE(std::filesystem::is_symlink(fRoot + "dangling.txt"));

	// Asked to, a link that leads to no file goes.
	for (const char* name : {"dangling.txt", "folder-alias"})
	{
		file = File(name);
		EXPECT_EQ(VFile::ResolveAliasFile(file, true), VE_OK) << name;
		EXPECT_FALSE(std::filesystem::is_symlink(fRoot + name)) << name;
	}
	EXPECT_TRUE(std::filesystem::is_directory(fRoot + "folder"));
	ASSERT_EQ(symlink((fRoot + "gone.txt").c_str(), (fRoot + "dangling.txt").c_str()), 0);
	VRefPtr<VFolder> root(new VFolder(VString(fRoot.c_str()), FPS_POSIX), true);
	VRefPtr<VFile> deleted(VFile::CreateAndResolveAlias(*root, VString("dangling.txt"), FPS_POSIX), true);
	ASSERT_NE(deleted, nullptr);
	EXPECT_EQ(to_string(deleted->_GetPosixPath()), fRoot + "dangling.txt");
	EXPECT_FALSE(std::filesystem::is_symlink(fRoot + "dangling.txt"));
	VRefPtr<VFile> resolved(VFile::CreateAndResolveAlias(*root, VString("alias.txt"), FPS_POSIX), true);
	ASSERT_NE(resolved, nullptr);
	EXPECT_EQ(to_string(resolved->_GetPosixPath()), fRoot + "target.txt");
}

TEST_F(VFileTest, ContentInOneCall)
{
	// Writing makes the missing folders; appending adds at the end; replacing cuts a longer content.
	VRefPtr<VFile> file = File("a/b/c.txt");
	ASSERT_EQ(file->SetContent("0123456789", 10), VE_OK);
	ASSERT_EQ(file->AppendContent("ab", 2), VE_OK);
	EXPECT_EQ(Read("a/b/c.txt"), "0123456789ab");
	ASSERT_EQ(file->SetContent("xyz", 3), VE_OK);
	EXPECT_EQ(Read("a/b/c.txt"), "xyz");
	ASSERT_EQ(File("d/e.txt")->AppendContent("new", 3), VE_OK);
	EXPECT_EQ(Read("d/e.txt"), "new");
	ASSERT_EQ(File("empty.txt")->SetContent(nullptr, 0), VE_OK);
	EXPECT_TRUE(std::filesystem::exists(fRoot + "empty.txt"));

	// Reading at most a size: a shorter file is read whole.
	char bytes[8] = {};
	size_t read = 99;
	EXPECT_EQ(file->GetData(bytes, sizeof(bytes), &read), VE_OK);
	EXPECT_EQ(std::string(bytes, read), "xyz");
	EXPECT_EQ(file->GetData(bytes, 2, &read), VE_OK);
	EXPECT_EQ(read, 2u);

	// A buffer holding data gets the content whole; an empty one too.
	VMemoryBuffer<> buffer;
	ASSERT_TRUE(buffer.AddData("previous content", 16));
	EXPECT_EQ(file->GetContent(buffer), VE_OK);
	EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.GetDataPtr()), size_t(buffer.GetDataSize())), "xyz");
	VMemoryBuffer<> fresh;
	EXPECT_EQ(File("empty.txt")->GetContent(fresh), VE_OK);
	EXPECT_EQ(fresh.GetDataSize(), 0u);

	// A failed read leaves the buffer as it was.
	StErrorContextInstaller scope(false, true);
	EXPECT_EQ(File("missing.txt")->GetContent(buffer), kFileNotFound);
	EXPECT_EQ(buffer.GetDataSize(), 3u);
	EXPECT_EQ(File("missing.txt")->GetData(bytes, 2, &read), kFileNotFound);
	EXPECT_EQ(read, 0u);
}

TEST_F(VFileTest, ContentTooLargeForMemoryIsRefusedBeforeReading)
{
#if defined(__SANITIZE_ADDRESS__)
	const char* options = std::getenv("ASAN_OPTIONS");
	if (options == nullptr || std::strstr(options, "allocator_may_return_null=1") == nullptr)
		GTEST_SKIP() << "needs allocator_may_return_null=1 in ASAN_OPTIONS";
#endif
	// A sparse file of 4 TiB: its size is real, its blocks are not.
	Write("huge.bin", "");
	if (truncate((fRoot + "huge.bin").c_str(), int64(1) << 42) != 0)
		GTEST_SKIP() << "the file system refuses a file that large";
	VMemoryBuffer<> buffer;
	ASSERT_TRUE(buffer.AddData("kept", 4));
	for (bool empty : {false, true})
	{
		SCOPED_TRACE(empty ? "empty buffer" : "buffer with data");
		VMemoryBuffer<> none;
		VMemoryBuffer<>& target = empty ? none : buffer;
		StErrorContextInstaller scope(false, true);
		EXPECT_EQ(File("huge.bin")->GetContent(target), VE_MEMORY_FULL);
		auto* error = dynamic_cast<VFileError*>(scope.GetLast());
		ASSERT_NE(error, nullptr);
		EXPECT_EQ(error->GetCode(), VE_MEMORY_FULL);
		EXPECT_EQ(target.GetDataSize(), empty ? 0u : 4u);
	}
}

TEST_F(VFileTest, TemporaryFilesAreNamedByANewUUID)
{
	setenv("TMPDIR", fRoot.c_str(), 1);
	VRefPtr<VFile> file(VFile::CreateTemporaryFile(), true);
	unsetenv("TMPDIR");
	ASSERT_NE(file, nullptr);
	const std::string text = to_string(file->_GetPosixPath()).substr(fRoot.size());
	ASSERT_EQ(text.size(), 36u) << text;
	EXPECT_EQ(text.substr(0, 4), "vlk_");
	EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF", 4), std::string::npos) << text;
	EXPECT_EQ(text[4 + 12], '4') << text;  // the version digit
	EXPECT_EQ(Entries(), std::vector<std::string>{text});
	EXPECT_EQ(Read(text), "");
}

TEST_F(VFileTest, WritabilityLeavesNoError)
{
	Write("plain.txt", "plain");
	VFileDesc* holder = nullptr;
	ASSERT_EQ(File("locked.txt")->Open(FA_READ_WRITE, &holder, FO_CREATE_IF_NOT_FOUND), VE_OK);
	const std::pair<const char*, bool> rows[] = {
		{"plain.txt", true}, {"missing.txt", false}, {"locked.txt", false}, {"plain.txt/x", false}};
	for (const auto& [relative, writable] : rows)
	{
		SCOPED_TRACE(relative);
		StErrorContextInstaller scope(false, true);
		EXPECT_EQ(File(relative)->IsWritable(), writable);
		EXPECT_EQ(scope.GetLastError(), VE_OK);
	}
	delete holder;
	EXPECT_TRUE(File("locked.txt")->IsWritable());
	EXPECT_FALSE(std::filesystem::exists(fRoot + "missing.txt"));
}

TEST_F(VFileTest, IdentityKindsAndURLs)
{
	// Names that differ by case are two files here, and a folder of another case is no prefix.
	VRefPtr<VFolder> root(new VFolder(VString(fRoot.c_str()), FPS_POSIX), true);
	VRefPtr<VFolder> upper(new VFolder(VString((fRoot + "Sub").c_str()), FPS_POSIX), true);
	VRefPtr<VFile> file = File("sub/a b.txt");
	EXPECT_TRUE(file->IsSameFile(File("sub/a b.txt").Get()));
	EXPECT_FALSE(file->IsSameFile(File("Sub/a b.txt").Get()));
	EXPECT_FALSE(file->IsSameFile(nullptr));

	VString url;
	file->GetURL(url, true);
	EXPECT_EQ(to_string(url), "file://" + fRoot + "sub/a%20b.txt");
	file->GetRelativeURL(root.Get(), url, true);
	EXPECT_EQ(to_string(url), "sub/a%20b.txt");
	file->GetRelativeURL(upper.Get(), url, false);
	EXPECT_EQ(to_string(url), "file://" + fRoot + "sub/a b.txt");

	EXPECT_EQ(to_string(VRefPtr<VFile>(new VFile(VURL(*root, VString("sub\\a b.txt"), eURL_WIN_STYLE)), true)->_GetPosixPath()),
		fRoot + "sub/a b.txt");

	// A private kind is matched by its extensions; an identifier nobody knows matches nothing.
	ASSERT_NE(VFileKindManager::sManager, nullptr);
	ASSERT_TRUE(VFileKindManager::sManager->RegisterPrivateFileKind(VString("com.example.notes"), VString("Notes"),
		{VString("notes")}, {}));
	EXPECT_TRUE(File("a.NOTES")->ConformsTo(VString("com.example.notes")));
	EXPECT_FALSE(File("a.txt")->ConformsTo(VString("com.example.notes")));
	EXPECT_FALSE(File("a.notes")->ConformsTo(VString("com.example.unknown-kind")));
}

}  // namespace
}  // namespace velk
