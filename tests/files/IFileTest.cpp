// What files and folders share whatever implements them: names and extensions from the path, whole content
// as JSON, copying content, the same-folder test; with the attributes cache and the JSON hooks beside them.
#include <gtest/gtest.h>

#include <string>

#include "common/VTemporaryFolderTest.h"
#include "files/VFileAttributesCache.h"
#include "files/VFileFolderHooks.h"
#include "files/VFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/json/VJSONValue.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

constexpr VError kFileNotFound = MakeVError(kVELK_SIGNATURE, 600);
constexpr VError kMalformedJSON = MakeVError(kVELK_SIGNATURE, 550);

class IFileTest : public test::VTemporaryFolderTest
{
protected:
	VRefPtr<VFolder> Folder(const std::string& name) const
	{
		return VRefPtr<VFolder>(new VFolder(VString((fRoot + name).c_str()), FPS_POSIX), true);
	}
};

struct Naming
{
	const char* path;  // in the temporary folder; a folder ends with '/'
	const char* name;
	const char* withoutExtension;
	const char* extension;
	const char* matched;  // an extension MatchExtension accepts
	const char* unmatched;
};

TEST_F(IFileTest, NamesAndExtensionsComeFromThePath)
{
	const Naming rows[] = {
		{"notes.txt", "notes.txt", "notes", "txt", "TXT", "tx"},
		{"README", "README", "README", "", "", "txt"},
		{"Tool.app/", "Tool.app", "Tool", "app", "app", ""},
		{"dir.d/plain/", "plain", "plain", "", "", "d"},
	};
	for (const Naming& row : rows)
	{
		SCOPED_TRACE(row.path);
		const std::string path(row.path);
		const VRefPtr<VFolder> folder = path.back() == '/' ? Folder(path) : VRefPtr<VFolder>();
		const VRefPtr<VFile> file = path.back() == '/' ? VRefPtr<VFile>() : File(path);
		const IFileSystemObject* object = folder.Get() != nullptr ? static_cast<IFileSystemObject*>(folder.Get()) : file.Get();
		VString withoutExtension;
		if (folder.Get() != nullptr)
			folder->GetNameWithoutExtension(withoutExtension);
		else
			file->GetNameWithoutExtension(withoutExtension);
		VString name;
		VString extension;
		object->GetName(name);
		object->GetExtension(extension);
		EXPECT_EQ(to_string(name), row.name);
		EXPECT_EQ(to_string(withoutExtension), row.withoutExtension);
		EXPECT_EQ(to_string(extension), row.extension);
		EXPECT_TRUE(object->MatchExtension(VString(row.matched)));
		EXPECT_FALSE(object->MatchExtension(VString(row.unmatched)));
	}
}

TEST_F(IFileTest, JSONContentRoundTripsAndFailuresLeaveTheValue)
{
	VJSONValue written;
	ASSERT_EQ(written.ParseFromString(VString(u"{\"a\": [1, 2.5, \"x\\ny\"], \"b\": null, \"c\": {\"d\": true}}")), VE_OK);
	VRefPtr<VFile> file = File("data.json");
	ASSERT_EQ(file->SetContentAsJSON(written, kCharSet_UTF8, eCRM_CRLF, false), VE_OK);
	EXPECT_NE(Read("data.json").find("\r\n"), std::string::npos);

	VJSONValue read;
	ASSERT_EQ(file->GetContentAsJSON(read, kCharSet_UTF8), VE_OK);
	VString before;
	VString after;
	written.Stringify(before);
	read.Stringify(after);
	EXPECT_EQ(to_string(after), to_string(before));
	// Dates written in their non-ambiguous form are recognised.
	ASSERT_EQ(Write("dated.json", "{\"when\": \"!!2024-02-03!!\"}")->GetContentAsJSON(read, kCharSet_UTF8), VE_OK);
	int16 year = 0, month = 0, day = 0;
	EXPECT_TRUE(read.GetProperty(VString("when")).GetDate(&year, &month, &day));
	EXPECT_EQ(year * 10000 + month * 100 + day, 20240203);

	StErrorContextInstaller scope(false, true);
	VJSONValue untouched(3.0);
	EXPECT_EQ(File("missing.json")->GetContentAsJSON(untouched, kCharSet_UTF8), kFileNotFound);
	EXPECT_EQ(untouched.GetNumber(), 3.0);
	EXPECT_EQ(Write("bad.json", "{\"a\": [1,")->GetContentAsJSON(read, kCharSet_UTF8), kMalformedJSON);
}

TEST_F(IFileTest, EmptyTextWithMarkWritesAnEmptyFile)
{
	Write("data.txt", "old");
	EXPECT_EQ(File("data.txt")->SetContentAsString(VString(""), kCharSet_UTF8, eCRM_NONE, true), VE_OK);
	EXPECT_EQ(Read("data.txt"), "");
}

TEST_F(IFileTest, CopyContentCopiesBytesOrReportsTheRead)
{
	const std::string bytes("\0\xFF\r\nbytes", 9);
	VRefPtr<VFile> source = Write("source.bin", bytes);
	VRefPtr<VFile> dest = Write("dest.bin", "old");
	EXPECT_EQ(source->CopyContentTo(dest.Get()), VE_OK);
	EXPECT_EQ(Read("dest.bin"), bytes);

	StErrorContextInstaller scope(false, true);
	EXPECT_EQ(File("missing.bin")->CopyContentTo(dest.Get()), kFileNotFound);
	EXPECT_EQ(Read("dest.bin"), bytes);
	EXPECT_EQ(File("missing.bin")->CopyContentTo(nullptr), kFileNotFound);
}

TEST_F(IFileTest, SameFolderComparesPathsExactly)
{
	VRefPtr<VFolder> folder = Folder("Docs/");
	EXPECT_TRUE(folder->IsSameFolder(Folder("Docs").Get()));
	EXPECT_FALSE(folder->IsSameFolder(Folder("docs/").Get()));
	EXPECT_FALSE(folder->IsSameFolder(nullptr));
}

TEST_F(IFileTest, AttributesCacheAnswersOnlyForItsSnapshot)
{
	VFileAttributesCache cache;
	VRefPtr<VFile> file = Write("cached.txt", "x");
	EXPECT_FALSE(cache.FileExists(file->GetPath()));

	VFileAttributesCache::Map snapshot;
	EXPECT_TRUE(VFileAttributesCache::CollectFileAttributes(snapshot, file.Get()));
	StErrorContextInstaller scope(false, true);
	EXPECT_TRUE(VFileAttributesCache::CollectFileAttributes(snapshot, File("missing.txt").Get()));
	EXPECT_EQ(snapshot.size(), 1u);
	cache.SwapMap(snapshot);
	EXPECT_TRUE(snapshot.empty());

	VTime onDisk;
	ASSERT_EQ(file->GetTimeAttributes(&onDisk, nullptr, nullptr), VE_OK);
	std::filesystem::remove(fRoot + "cached.txt");
	VTime modified;
	EXPECT_TRUE(cache.FileExists(file->GetPath()));
	EXPECT_TRUE(cache.GetTimeAttributes(file->GetPath(), &modified, nullptr, nullptr));
	EXPECT_EQ(modified, onDisk);
	// Names that differ only in case are other files.
	EXPECT_FALSE(cache.FileExists(File("Cached.txt")->GetPath()));

	EXPECT_FALSE(cache.GetTimeAttributes(File("other.txt")->GetPath(), &modified, nullptr, nullptr));
	EXPECT_EQ(modified, onDisk);
	cache.Clear();
	EXPECT_FALSE(cache.FileExists(file->GetPath()));

	// A folder gives the times of the files directly in it: no sub-folder, nothing inside one, no hidden
	// file; a path already collected keeps its first times.
	std::filesystem::create_directories(fRoot + "tree/sub");
	Write("tree/one.txt", "1");
	Write("tree/two.txt", "2");
	Write("tree/.hidden", "h");
	Write("tree/sub/deeper.txt", "d");
	VString one;
	VString two;
	File("tree/one.txt")->GetPath().GetPath(one);
	File("tree/two.txt")->GetPath().GetPath(two);
	VFileAttributesCache::Map tree;
	VFileAttributesCache::Attributes first;
	first.fModified = onDisk;
	tree.emplace(one, first);
	EXPECT_TRUE(VFileAttributesCache::CollectFileAttributes(tree, Folder("tree/").Get()));
	EXPECT_TRUE(VFileAttributesCache::CollectFileAttributes(tree, static_cast<IFolder*>(nullptr)));
	ASSERT_EQ(tree.size(), 2u);
	EXPECT_EQ(tree.count(two), 1u);
	EXPECT_EQ(tree[one].fModified, onDisk);
}

TEST(VFileFolderHooksTest, WithoutHooksNothingIsExtractedAndWrappingIsUndefined)
{
	const VJSONValue first = WrapFile(nullptr);
	const VJSONValue second = WrapFolder(nullptr);
	EXPECT_TRUE(first.IsUndefined());
	EXPECT_TRUE(second.IsUndefined());
	EXPECT_NE(first.GetStamp(), second.GetStamp());
	EXPECT_EQ(ExtractFile(VJSONValue(JSON_null)), nullptr);
	EXPECT_EQ(ExtractFolder(VJSONValue(JSON_null)), nullptr);
}

}  // namespace
}  // namespace velk
