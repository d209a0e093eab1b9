// Named file systems and their namespace: "/name/relative" paths resolve inside the root and never out of
// it, quotas hold between threads, the definition file registers what it names, and a file system's root
// and attributes cache behave as its options say.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFileSystemNamespace.h"
#include "files/VFolder.h"
#include "kernel/values/VTime.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"

namespace velk {
namespace {

std::string Posix(const VFilePath& path)
{
	VString text;
	path.GetPosixPath(text);
	return to_string(text);
}

class VFileSystemTest : public test::VTemporaryFolderTest
{
protected:
	// The folder of that name in the temporary folder, made on disk.
	VRefPtr<VFolder> MakeFolder(const std::string& name) const
	{
		std::filesystem::create_directories(fRoot + name);
		return VRefPtr<VFolder>(new VFolder(VString((fRoot + name + "/").c_str()), FPS_POSIX), true);
	}

	VRefPtr<VFileSystem> MakeFileSystem(const std::string& folder, uint32 options, uint64 quota = 0, uint64 used = 0) const
	{
		return VRefPtr<VFileSystem>(VFileSystem::Create(VString("fs"), MakeFolder(folder).Get(), options, quota, used), true);
	}

	// "home" and the hidden ".hidden" here, "shared" in the parent.
	void SetUp() override
	{
		test::VTemporaryFolderTest::SetUp();
		fParent.Adopt(new VFileSystemNamespace(nullptr));
		fNamespace.Adopt(new VFileSystemNamespace(fParent.Get()));
		ASSERT_EQ(fNamespace->RegisterFileSystem(VString("home"), MakeFolder("home").Get(), 0), VE_OK);
		ASSERT_EQ(fNamespace->RegisterFileSystem(VString(".hidden"), MakeFolder("hid").Get(), eFSO_HIDDEN), VE_OK);
		ASSERT_EQ(fParent->RegisterFileSystem(VString("shared"), MakeFolder("shared").Get(), 0), VE_OK);
	}

	VRefPtr<VFileSystemNamespace> fParent;
	VRefPtr<VFileSystemNamespace> fNamespace;
};

struct Resolved
{
	const char* path;  // "@" stands for the temporary folder
	bool folder;
	bool withBase;  // relative to the root folder of "home"
	uint32 options;
	bool allowPosixPath;
	const char* expected;  // POSIX path below the temporary folder; null for no answer
	const char* fileSystem;  // null for none
};

TEST_F(VFileSystemTest, RetainsFilesAndFoldersWithoutLeavingTheirFileSystem)
{
	const Resolved rows[] = {
		{"/home/sub/../notes.txt", false, false, 0, false, "home/notes.txt", "home"},
		{"/.hidden/a.txt", false, false, 0, false, "hid/a.txt", ".hidden"},
		{"/.hidden/a.txt", false, false, eFSN_SKIP_HIDDEN, true, nullptr, nullptr},
		{"/shared/s.txt", false, false, 0, false, nullptr, nullptr},
		{"/shared/s.txt", false, false, eFSN_SEARCH_PARENTS, false, "shared/s.txt", "shared"},
		// A name of a file system never falls back to a plain path, which would lie outside its root.
		{"/home/../other/x.txt", false, false, 0, true, nullptr, nullptr},
		{"/home/", false, false, 0, true, nullptr, nullptr},
		{"/home//etc/passwd", false, false, 0, true, nullptr, nullptr},
		{"/Home/x.txt", false, false, 0, false, nullptr, nullptr},
		{"@other/x.txt", false, false, 0, true, "other/x.txt", nullptr},
		{"@other/x.txt", false, false, 0, false, nullptr, nullptr},
		{"@other/x.txt", false, true, 0, true, nullptr, nullptr},
		{"", false, false, 0, true, nullptr, nullptr},
		{"sub/notes.txt", false, true, 0, false, "home/sub/notes.txt", "home"},
		{"../other/x.txt", false, true, 0, false, nullptr, nullptr},
		{"/home", true, false, 0, false, "home/", "home"},
		{"/home/a/../sub", true, false, 0, false, "home/sub/", "home"},
		{"/home/..", true, false, 0, true, nullptr, nullptr},
		{"@other/", true, false, 0, true, "other/", nullptr},
		{"@other", true, false, 0, true, nullptr, nullptr},
		{"../other/", true, true, 0, false, nullptr, nullptr},
	};
	VRefPtr<IFolder> base(fNamespace->RetainFileSystemRootFolder(VString("home"), 0), true);
	ASSERT_NE(base.Get(), nullptr);
	for (const Resolved& row : rows)
	{
		std::string text = row.path;
		if (!text.empty() && text[0] == '@')
			text = fRoot + text.substr(1);
		SCOPED_TRACE(text + (row.folder ? " (folder)" : " (file)"));
		StErrorContextInstaller scope(false, true);
		IFolder* from = row.withBase ? base.Get() : nullptr;
		VRefPtr<IFileSystemObject> found;
		VFileSystem* fileSystem = nullptr;
		if (row.folder)
		{
			IFolder* folder = fNamespace->RetainFolder(VString(text.c_str()), from, row.options, row.allowPosixPath);
			found.Adopt(folder);
			fileSystem = (folder != nullptr) ? folder->GetFileSystem() : nullptr;
		}
		else
		{
			IFile* file = fNamespace->RetainFile(VString(text.c_str()), from, row.options, row.allowPosixPath);
			found.Adopt(file);
			fileSystem = (file != nullptr) ? file->GetFileSystem() : nullptr;
		}
		if (row.expected == nullptr)
		{
			EXPECT_EQ(found.Get(), nullptr);
			continue;
		}
		ASSERT_NE(found.Get(), nullptr);
		EXPECT_EQ(Posix(found->GetPath()), fRoot + row.expected);
		EXPECT_EQ(fileSystem != nullptr ? to_string(fileSystem->GetName()) : "", row.fileSystem != nullptr ? row.fileSystem : "");
	}

	VRefPtr<VFileSystem> fileSystem;
	VString relative;
	ASSERT_TRUE(fNamespace->ParsePathWithFileSystem(VString("/home/a/../b/./c.txt"), fileSystem, relative, 0));
	EXPECT_EQ(to_string(relative), "b/c.txt");
	VRefPtr<IFile> file(fNamespace->RetainFile(VString("/home/sub/notes.txt"), nullptr, 0, false), true);
	VRefPtr<IFolder> folder(fNamespace->RetainFolder(VString("/home/sub"), nullptr, 0, false), true);
	ASSERT_TRUE(file && folder);
	EXPECT_EQ(to_string(file->GetPathWithFileSystem()), "/home/sub/notes.txt");
	EXPECT_EQ(to_string(folder->GetPathWithFileSystem()), "/home/sub/");
}

TEST_F(VFileSystemTest, RegistryReplacesByExactNameAndMergesParents)
{
	VRefPtr<VFileSystem> first = MakeFileSystem("first", 0);
	VRefPtr<VFileSystem> second = MakeFileSystem("second", 0);
	fNamespace->RegisterFileSystem(first.Get());
	fNamespace->RegisterFileSystem(second.Get());
	EXPECT_EQ(first->GetRefCount(), 1);
	VRefPtr<VFileSystem> found(fNamespace->RetainFileSystem(VString("fs"), 0), true);
	EXPECT_EQ(found.Get(), second.Get());
	EXPECT_EQ(fNamespace->RetainFileSystem(VString("FS"), 0), nullptr);

	// A name here hides the parent's; hidden ones are left out when asked.
	ASSERT_EQ(fParent->RegisterFileSystem(VString("fs"), MakeFolder("parentFs").Get(), 0), VE_OK);
	const std::pair<uint32, std::vector<std::string>> listings[] = {
		{0, {".hidden", "fs", "home"}},
		{eFSN_SEARCH_PARENTS | eFSN_SKIP_HIDDEN, {"fs", "home", "shared"}},
	};
	for (const auto& [options, expected] : listings)
	{
		VFileSystemNamespace::MapOfFileSystems map;
		EXPECT_EQ(fNamespace->RetainMapOfFileSystems(map, options), VE_OK);
		std::vector<std::string> names;
		for (const auto& [name, fileSystem] : map)
			names.push_back(to_string(name));
		EXPECT_EQ(names, expected);
		EXPECT_EQ(map[VString("fs")].Get(), second.Get());
	}

	fNamespace->UnregisterFileSystem(VString("fs"));
	VRefPtr<VFileSystem> fromParent(fNamespace->RetainFileSystem(VString("fs"), eFSN_SEARCH_PARENTS), true);
	ASSERT_NE(fromParent.Get(), nullptr);
	EXPECT_EQ(Posix(fromParent->GetRoot()), fRoot + "parentFs/");
}

TEST_F(VFileSystemTest, CreateRefusesEmptyNamesAndNamesWithSlash)
{
	for (const char* name : {"", "a/b"})
	{
		StErrorContextInstaller scope(false, true);
		VError error = VE_OK;
		EXPECT_EQ(VFileSystem::Create(VString(name), MakeFolder("root").Get(), 0, 0, 0, &error), nullptr);
		EXPECT_EQ(error, VE_FS_INVALID_NAME);
		VString parameter("unset");
		ASSERT_NE(scope.Find(VE_FS_INVALID_NAME), nullptr);
		EXPECT_TRUE(scope.Find(VE_FS_INVALID_NAME)->GetString(VString("name"), parameter));
		EXPECT_EQ(to_string(parameter), name);
	}
}

struct QuotaStep
{
	bool relinquish;
	uint64 bytes;
	VError result;
	uint64 available;
};

TEST_F(VFileSystemTest, QuotaIsTakenAndGivenBackWithinItsBounds)
{
	const struct
	{
		uint32 options;
		uint64 quota;
		uint64 used;
		std::vector<QuotaStep> steps;
	} cases[] = {
		{0, 100, 0, {{false, 10, VE_FS_NOT_WRITABLE, 100}, {true, 10, VE_FS_NOT_WRITABLE, 100}}},
		{eFSO_WRITABLE, 100, 60, {{false, 50, VE_FS_QUOTA_EXCEEDED, 40}, {false, 40, VE_OK, 0}, {true, 30, VE_OK, 30}}},
		// More in use than the quota leaves nothing, and giving back never passes the quota.
		{eFSO_WRITABLE, 100, 150, {{false, 1, VE_FS_QUOTA_EXCEEDED, 0}, {true, 20, VE_OK, 20}, {true, ~uint64(0), VE_OK, 100}}},
		{eFSO_WRITABLE, 0, 0, {{false, ~uint64(0), VE_OK, 0}}},
	};
	for (const auto& c : cases)
	{
		VRefPtr<VFileSystem> fileSystem = MakeFileSystem("quota", c.options, c.quota, c.used);
		for (const QuotaStep& step : c.steps)
		{
			SCOPED_TRACE(std::to_string(c.used) + " used, " + std::to_string(step.bytes) + " bytes");
			EXPECT_EQ(step.relinquish ? fileSystem->Relinquish(step.bytes) : fileSystem->Request(step.bytes), step.result);
			EXPECT_EQ(fileSystem->GetAvailable(), step.available);
		}
	}
}

TEST_F(VFileSystemTest, ConcurrentRequestsTakeExactlyTheQuota)
{
	constexpr uint64 kQuota = 400000;
	VRefPtr<VFileSystem> fileSystem = MakeFileSystem("quota", eFSO_WRITABLE, kQuota, 0);
	std::atomic<uint64> taken{0};
	std::vector<std::thread> threads;
	for (uint64 bytes : {1, 1, 1, 1, 2, 3, 5, 8})
	{
		threads.emplace_back(
			[&fileSystem, &taken, bytes]
			{
				while (fileSystem->Request(bytes) == VE_OK)
					taken += bytes;
				// Single bytes take what is left.
				while (fileSystem->Request(1) == VE_OK)
					taken += 1;
			});
	}
	for (std::thread& thread : threads)
		thread.join();
	EXPECT_EQ(taken.load(), kQuota);
	EXPECT_EQ(fileSystem->GetAvailable(), 0u);
}

TEST_F(VFileSystemTest, DefinitionFileRegistersOnlyWhatItSoundlyNames)
{
	StErrorContextInstaller scope(false, true);
	EXPECT_EQ(fNamespace->LoadFromDefinitionFile(nullptr), VE_UNKNOWN_ERROR);
	VRefPtr<VFile> malformed = Write("fileSystems.json", "[{\"name\": \"broken\", \"path\": \"" + fRoot + "broken\"},");
	EXPECT_EQ(fNamespace->LoadFromDefinitionFile(malformed.Get()), MakeVError(kVELK_SIGNATURE, 550));
	ASSERT_NE(scope.Find(VE_FS_INVALID_DEFINITION_FILE), nullptr);
	VString path;
	EXPECT_TRUE(scope.Find(VE_FS_INVALID_DEFINITION_FILE)->GetString(VString("path"), path));
	EXPECT_EQ(to_string(path), to_string(malformed->GetPath().GetPath(FPS_SYSTEM)));
	EXPECT_EQ(fNamespace->RetainFileSystem(VString("broken"), 0), nullptr);

	VRefPtr<VFile> sound = Write("fileSystems.json",
		"[{\"name\": \"data\", \"path\": \"" + fRoot + "data\", \"parent\": \"\", \"writable\": true},\n"
		" {\"name\": \"inner\", \"path\": \"inner\", \"parent\": \"data\", \"writable\": false},\n"
		" {\"name\": \"common\", \"path\": \"c/\", \"parent\": \"shared\"},\n"
		" {\"name\": \"escape\", \"path\": \"../../etc\", \"parent\": \"home\"},\n"
		" {\"name\": \"nopath\"}, 7]");
	ASSERT_EQ(fNamespace->LoadFromDefinitionFile(sound.Get()), VE_OK);
	const struct
	{
		const char* name;
		const char* root;  // below the temporary folder; null for not registered
		bool writable;
	} entries[] = {
		{"data", "data/", true},
		{"inner", "data/inner/", false},
		{"common", "shared/c/", false},
		{"escape", nullptr, false},
		{"nopath", nullptr, false},
	};
	for (const auto& entry : entries)
	{
		SCOPED_TRACE(entry.name);
		VRefPtr<VFileSystem> fileSystem(fNamespace->RetainFileSystem(VString(entry.name), 0), true);
		EXPECT_EQ(fileSystem ? Posix(fileSystem->GetRoot()) : "", entry.root != nullptr ? fRoot + entry.root : "");
		EXPECT_EQ(fileSystem && fileSystem->IsWritable(), entry.writable);
	}
}

TEST_F(VFileSystemTest, DeleteRootOptionRemovesTheTreeWithTheFileSystem)
{
	for (const uint32 options : {uint32(0), uint32(eFSO_DELETE_ROOT)})
	{
		MakeFolder("doomed/deeper");
		Write("doomed/deeper/file.txt", "x");
		Write("doomed/.hidden", "y");
		MakeFileSystem("doomed", options);
		EXPECT_EQ(std::filesystem::exists(fRoot + "doomed"), options == 0);
		EXPECT_EQ(VTask::GetLastError(), VE_OK);
	}
}

TEST_F(VFileSystemTest, AttributesCacheIsSharedAndAnswersForTheDisk)
{
	EXPECT_EQ(MakeFileSystem("cached", 0)->GetAttributesCache(), nullptr);
	VRefPtr<VFileSystem> outer = MakeFileSystem("cached", eFSO_ATTRIBUTES_CACHE);
	VFileAttributesCache* cache = outer->GetAttributesCache();
	ASSERT_NE(cache, nullptr);
	VRefPtr<VFolder> root(outer->RetainRootFolder(), true);
	VRefPtr<VFolder> sub(root->RetainRelativeVFolder(VString("sub/"), FPS_POSIX), true);
	VRefPtr<VFileSystem> inner(VFileSystem::Create(VString("inner"), sub.Get(), eFSO_ATTRIBUTES_CACHE, 0, 0), true);
	EXPECT_EQ(inner->GetAttributesCache(), cache);
	EXPECT_NE(MakeFileSystem("cached", eFSO_ATTRIBUTES_CACHE)->GetAttributesCache(), cache);

	Write("cached/a.txt", "a");
	VFileAttributesCache::Map snapshot;
	ASSERT_TRUE(VFileAttributesCache::CollectFileAttributes(snapshot, root.Get()));
	ASSERT_EQ(snapshot.size(), 1u);
	const VTime stored = snapshot.begin()->second.fModified;
	cache->SwapMap(snapshot);

	// Gone from the disk, the file still exists for the file system's snapshot; a file outside it does not.
	std::filesystem::remove(fRoot + "cached/a.txt");
	VRefPtr<VFile> file(root->RetainRelativeFile(VString("a.txt"), FPS_POSIX), true);
	ASSERT_NE(file.Get(), nullptr);
	EXPECT_TRUE(file->Exists());
	VTime modified;
	EXPECT_EQ(file->GetTimeAttributes(&modified, nullptr, nullptr), VE_OK);
	EXPECT_EQ(modified, stored);
	EXPECT_FALSE(File("cached/a.txt")->Exists());
	cache->Clear();
	EXPECT_FALSE(file->Exists());
}

}  // namespace
}  // namespace velk
