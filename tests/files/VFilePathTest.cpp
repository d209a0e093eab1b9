// Native file paths: building from full and relative texts in both styles with their parent steps, the
// text conversions between styles, the queries and edits on names and extensions, containment compared
// unit by unit, and names that must reach the disk byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "files/VFilePath.h"
#include "files/VSystem.h"
#include "files/mac/XMacFilePath.h"
#include "kernel/strings/VString.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

constexpr VError kNameHoldsSeparator = MakeVError(kVELK_SIGNATURE, 614);

VString Text(const std::u16string& units)
{
	return VString(units.data(), int32(units.size()));
}

std::u16string Units(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

std::u16string Native(const VFilePath& path)
{
	VString text;
	path.GetPath(text);
	return Units(text);
}

std::u16string Posix(const VFilePath& path)
{
	VString text;
	path.GetPosixPath(text);
	return Units(text);
}

TEST(VFilePathTest, FullPathsResolveTheirParentStepsAndNeverClimbAboveTheVolume)
{
	struct Row
	{
		std::u16string text;
		FilePathStyle style;
		bool valid;
		std::u16string native;  // when valid
	};
	const std::vector<Row> rows = {
		{ u"Vol:", FPS_SYSTEM, true, u"Vol:" },
		{ u"Vol:a:b:f.txt", FPS_SYSTEM, true, u"Vol:a:b:f.txt" },
		{ u"Vol:a:b::c", FPS_SYSTEM, true, u"Vol:a:c" },
		{ u"Vol:a::", FPS_SYSTEM, true, u"Vol:" },
		{ u"Vol:a:b:::x", FPS_SYSTEM, true, u"Vol:x" },
		{ u"Vol:a:b::c::", FPS_SYSTEM, true, u"Vol:a:" },
		{ u"Vol::x", FPS_SYSTEM, false, u"" },
		{ u"Vol:a:::x", FPS_SYSTEM, false, u"" },
		{ u"Vol:a:b::::", FPS_SYSTEM, false, u"" },
		{ u":a:b:", FPS_SYSTEM, false, u"" },
		{ u"", FPS_SYSTEM, false, u"" },
		{ std::u16string(u"Vol:a\0b", 7), FPS_SYSTEM, false, u"" },
		{ u"/", FPS_POSIX, true, u"Root:" },
		{ u"/home/me/a", FPS_POSIX, true, u"Root:home:me:a" },
		{ u"/home/me/", FPS_POSIX, true, u"Root:home:me:" },
		{ u"/a/b//c", FPS_POSIX, true, u"Root:a:b:c" },
		{ u"//a///b/", FPS_POSIX, true, u"Root:a:b:" },
		{ u"/a/./b/.", FPS_POSIX, true, u"Root:a:b:" },
		{ u"/a/../b", FPS_POSIX, true, u"Root:b" },
		{ u"/a/b/..", FPS_POSIX, true, u"Root:a:" },
		{ u"/a/b/../../c/", FPS_POSIX, true, u"Root:c:" },
		{ u"/a:b/c d#%", FPS_POSIX, true, u"Root:a/b:c d#%" },
		{ u"/..", FPS_POSIX, false, u"" },
		{ u"/a/../../x", FPS_POSIX, false, u"" },
		{ u"a/b", FPS_POSIX, false, u"" },
		{ std::u16string(u"/a\0b", 4), FPS_POSIX, false, u"" },
		{ u"/a/\xD800", FPS_POSIX, false, u"" },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(to_string(Text(row.text))));
		const VFilePath path(Text(row.text), row.style);
		EXPECT_EQ(path.IsValid(), row.valid);
		if (row.valid)
		{
			EXPECT_EQ(Native(path), row.native);
		}
		else
		{
			EXPECT_EQ(Posix(path), u"");
		}
	}
}

TEST(VFilePathTest, RelativePathsJoinTheBaseFolderWithEveryParentStepForm)
{
	struct Row
	{
		std::u16string base;
		std::u16string relative;
		FilePathStyle style;
		bool relativeOnly;
		bool valid;
		std::u16string native;
	};
	const std::vector<Row> rows = {
		{ u"Vol:dir:", u"../x", FPS_POSIX, false, true, u"Vol:x" },
		{ u"Vol:", u"../x", FPS_POSIX, false, false, u"" },
		{ u"Vol:a:", u"../../x", FPS_POSIX, false, false, u"" },
		{ u"Vol:a:b:", u"../../x", FPS_POSIX, false, true, u"Vol:x" },
		{ u"Vol:a:b:", u"..//../x", FPS_POSIX, false, true, u"Vol:x" },
		{ u"Vol:a:", u"c/../d", FPS_POSIX, false, true, u"Vol:a:d" },
		{ u"Vol:a:", u"c/..", FPS_POSIX, false, true, u"Vol:a:" },
		{ u"Vol:a:", u"..", FPS_POSIX, false, true, u"Vol:" },
		{ u"Vol:a:", u"./b/./c", FPS_POSIX, false, true, u"Vol:a:b:c" },
		{ u"Vol:a:", u"b//c/.", FPS_POSIX, false, true, u"Vol:a:b:c:" },
		{ u"Vol:a:", u"..x/.y", FPS_POSIX, false, true, u"Vol:a:..x:.y" },
		{ u"Vol:a:", u"n:m", FPS_POSIX, false, true, u"Vol:a:n/m" },
		{ u"Vol:a:", u"", FPS_POSIX, false, true, u"Vol:a:" },
		{ u"Vol:a:", u"/tmp/x", FPS_POSIX, false, true, u"Root:tmp:x" },
		{ u"Vol:a:", u"/tmp/x", FPS_POSIX, true, false, u"" },
		{ u"Vol:a:f", u"x", FPS_POSIX, false, false, u"" },
		{ u"Vol:a:", std::u16string(u"x\0y", 3), FPS_POSIX, false, false, u"" },
		{ u"Vol:a:", u"b:c", FPS_SYSTEM, false, true, u"Vol:a:b:c" },
		{ u"Vol:a:", u":x", FPS_SYSTEM, false, true, u"Vol:x" },
		{ u"Vol:a:", u"::x", FPS_SYSTEM, false, false, u"" },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(to_string(Text(row.base + u" + " + row.relative))));
		const VFilePath base(Text(row.base), FPS_SYSTEM);
		const VFilePath path(base, Text(row.relative), row.style, row.relativeOnly);
		EXPECT_EQ(path.IsValid(), row.valid);
		if (row.valid)
		{
			EXPECT_EQ(Native(path), row.native);
		}
	}

	VFilePath self(VString("Vol:a:b:"), FPS_SYSTEM);
	self.FromRelativePath(self, VString("../c"), FPS_POSIX);
	EXPECT_EQ(Native(self), u"Vol:a:c");
}

TEST(VFilePathTest, PathTextsConvertBetweenStyles)
{
	struct Row
	{
		std::u16string text;
		EURLPathStyle from;
		EURLPathStyle to;
		bool relative;
		std::u16string result;
	};
	const std::vector<Row> rows = {
		{ u"a::b", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, u"a/../b" },
		{ u"a:", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, u"a/" },
		{ u"a::", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, u"a/../" },
		{ u":", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, u"" },
		{ u":x", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, u"x" },
		{ u"::x", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, u"../x" },
		{ u"a/b:c", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, u"a:b/c" },
		{ u"a/./b//c", eURL_POSIX_STYLE, eURL_HFS_STYLE, true, u"a:b:c" },
		{ u"../x", eURL_POSIX_STYLE, eURL_HFS_STYLE, true, u":x" },
		{ u"../../x/", eURL_POSIX_STYLE, eURL_HFS_STYLE, true, u"::x:" },
		{ u"/x", eURL_POSIX_STYLE, eURL_HFS_STYLE, true, u":x" },
		{ u"a/..", eURL_POSIX_STYLE, eURL_HFS_STYLE, true, u"a::" },
		{ u"Root:home:me:a", eURL_HFS_STYLE, eURL_POSIX_STYLE, false, u"/home/me/a" },
		{ u"Root:", eURL_HFS_STYLE, eURL_POSIX_STYLE, false, u"/" },
		{ u"Data:x/y:", eURL_HFS_STYLE, eURL_POSIX_STYLE, false, u"/Data/x:y/" },
		{ u"/a//c", eURL_POSIX_STYLE, eURL_HFS_STYLE, false, u"Root:a:c" },
		{ u"a/b", eURL_POSIX_STYLE, eURL_HFS_STYLE, false, u"a:b" },
		{ u"a\\b\\c", eURL_WIN_STYLE, eURL_POSIX_STYLE, false, u"a/b/c" },
		{ u"a/b/c", eURL_POSIX_STYLE, eURL_WIN_STYLE, false, u"a\\b\\c" },
		{ u"a:b\\c", eURL_HFS_STYLE, eURL_WIN_STYLE, false, u"a:b\\c" },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(to_string(Text(row.text))));
		VString text = Text(row.text);
		EXPECT_TRUE(VFilePath::_ConvertPathText(text, row.from, row.to, row.relative));
		EXPECT_EQ(Units(text), row.result);
	}
}

TEST(VFilePathTest, PosixResolutionStaysInsideTheText)
{
	const std::vector<std::pair<std::u16string, std::u16string>> rows = {
		{ u"/../x", u"/x" },
		{ u"/..", u"/" },
		{ u"/a/./b//c/", u"/a/b/c/" },
		{ u"a/b/../c", u"a/c" },
		{ u"a/b/../../c", u"c" },
		{ u"a/../../x", u"../x" },
		{ u"../../x", u"../../x" },
		{ u"./../x", u"./../x" },
		{ u"a/b/..", u"a/" },
		{ u"a", u"a" },
		{ u"", u"" },
	};
	for (const auto& [text, resolved] : rows)
	{
		VString path = Text(text);
		EXPECT_TRUE(VFilePath::ResolveRelativePosix(path));
		EXPECT_EQ(Units(path), resolved) << to_string(Text(text));
	}
}

TEST(VFilePathTest, QueriesReadTheNamesOfTheLastComponent)
{
	struct Row
	{
		std::u16string text;
		bool folder;
		std::u16string name;
		std::u16string bareFileName;    // GetFileName without extension
		std::u16string bareFolderName;  // GetFolderName without extension
		std::u16string extension;
		int32 depth;
		std::u16string parent;  // empty: none
	};
	const std::vector<Row> rows = {
		{ u"Vol:", true, u"Vol", u"", u"Vol:", u"", 1, u"" },
		{ u"Vol:a:b:", true, u"b", u"", u"b", u"", 3, u"Vol:a:" },
		{ u"Vol:d.app:", true, u"d.app", u"", u"d", u"app", 2, u"Vol:" },
		{ u"Vol:a.b:c", false, u"c", u"c", u"", u"", 3, u"Vol:a.b:" },
		{ u"Vol:a:f.tar.gz", false, u"f.tar.gz", u"f.tar", u"", u"gz", 3, u"Vol:a:" },
		{ u"Vol:a.", false, u"a.", u"a", u"", u"", 2, u"Vol:" },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(to_string(Text(row.text))));
		const VFilePath path(Text(row.text), FPS_SYSTEM);
		ASSERT_TRUE(path.IsValid());
		EXPECT_EQ(path.IsFolder(), row.folder);
		EXPECT_EQ(path.IsFile(), !row.folder);
		VString text;
		path.GetName(text);
		EXPECT_EQ(Units(text), row.name);
		path.GetFileName(text, false);
		EXPECT_EQ(Units(text), row.bareFileName);
		path.GetFolderName(text, false);
		EXPECT_EQ(Units(text), row.bareFolderName);
		path.GetExtension(text);
		EXPECT_EQ(Units(text), row.extension);
		EXPECT_EQ(path.GetDepth(), row.depth);
		EXPECT_EQ(path.HasParent(), !row.parent.empty());
		VFilePath parent;
		EXPECT_EQ(path.GetParent(parent), !row.parent.empty());
		EXPECT_EQ(Native(parent), row.parent);
	}

	const VFilePath file(VString("Vol:a:f.TXT"), FPS_SYSTEM);
	EXPECT_TRUE(file.MatchExtension(VString("txt"), false));
	EXPECT_FALSE(file.MatchExtension(VString("txt"), true));
	EXPECT_FALSE(file.MatchExtension(VString(), false));
	EXPECT_TRUE(VFilePath(VString("Vol:a:d.app:"), FPS_SYSTEM).MatchExtension(VString("app"), true));
	EXPECT_TRUE(VFilePath(VString("Vol:a.b:c"), FPS_SYSTEM).MatchExtension(VString(), false));
}

TEST(VFilePathTest, EditsReplaceNamesAndExtensions)
{
	struct Row
	{
		const char* text;
		std::function<bool(VFilePath&)> edit;
		bool answer;
		const char* result;  // "" for an emptied, invalid path
	};
	const std::vector<Row> rows = {
		{ "Vol:a.txt", [](VFilePath& p) { return p.SetExtension(VString()); }, true, "Vol:a" },
		{ "Vol:a", [](VFilePath& p) { return p.SetExtension(VString()); }, true, "Vol:a" },
		{ "Vol:a.", [](VFilePath& p) { return p.SetExtension(VString("txt")); }, true, "Vol:a.txt" },
		{ "Vol:a.md", [](VFilePath& p) { return p.SetExtension(VString("txt")); }, true, "Vol:a.txt" },
		{ "Vol:.profile", [](VFilePath& p) { return p.SetExtension(VString()); }, true, "Vol:.profile" },
		{ "Vol:d:", [](VFilePath& p) { return p.SetExtension(VString("x")); }, true, "Vol:d.x:" },
		{ "Vol:d.app:", [](VFilePath& p) { return p.SetExtension(VString("bundle")); }, true, "Vol:d.bundle:" },
		{ "Vol:d.app:", [](VFilePath& p) { return p.SetExtension(VString()); }, true, "Vol:d:" },
		{ "Vol:.config:", [](VFilePath& p) { return p.SetExtension(VString()); }, true, "Vol:.config:" },
		{ "Vol:a:f.txt", [](VFilePath& p) { return p.SetName(VString("g")); }, true, "Vol:a:g" },
		{ "Vol:a:b:", [](VFilePath& p) { return p.SetName(VString("c")); }, true, "Vol:a:c:" },
		{ "Vol:", [](VFilePath& p) { return p.SetName(VString("c")); }, false, "" },
		{ "Vol:a:f.txt", [](VFilePath& p) { return p.SetFileName(VString("g"), false); }, true, "Vol:a:g.txt" },
		{ "Vol:a:", [](VFilePath& p) { return p.SetFileName(VString("g"), false); }, true, "Vol:a:g" },
		{ "Vol:a:d.app:", [](VFilePath& p) { return p.SetFolderName(VString("e"), false); }, true, "Vol:a:e.app:" },
		{ "Vol:", [](VFilePath& p) { return p.SetFolderName(VString("e"), true); }, false, "" },
		{ "Vol:a:f", [](VFilePath& p) { return p.ToFolder().IsValid(); }, true, "Vol:a:" },
		{ "Vol:a:", [](VFilePath& p) { return p.ToSubFolder(VString("b")).ToSubFile(VString("f")).IsFile(); }, true, "Vol:a:b:f" },
		{ "Vol:a:f", [](VFilePath& p) { return p.ToSubFile(VString("g")).IsFile(); }, true, "Vol:a:f" },
		{ " Vol : a b :\u00A0f ", [](VFilePath& p) { p.RemoveBlanks(); return p.IsValid(); }, true, "Vol:a b:f" },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.text);
		VFilePath path(VString(row.text), FPS_SYSTEM);
		EXPECT_EQ(row.edit(path), row.answer);
		EXPECT_EQ(to_string(Text(Native(path))), row.result);
		EXPECT_EQ(path.IsValid(), *row.result != 0);
	}

	for (const bool fileName : { false, true })
	{
		VFilePath path(VString("Vol:a:f.txt"), FPS_SYSTEM);
		StErrorContextInstaller scope(false, true);
		EXPECT_FALSE(fileName ? path.SetFileName(VString("x:y")) : path.SetName(VString("x:y")));
		EXPECT_EQ(scope.GetLastError(), kNameHoldsSeparator);
		EXPECT_EQ(Native(path), u"Vol:a:f.txt");
		EXPECT_TRUE(path.IsValid());
	}
}

TEST(VFilePathTest, ContainmentAndRelativeTextsCompareUnitsExactly)
{
	const VFilePath folder(VString("Root:a:"), FPS_SYSTEM);
	struct Row
	{
		std::u16string text;
		bool child;
		bool sameOrChild;
		std::u16string relative;  // GetRelativePosixPath against folder
	};
	const std::vector<Row> rows = {
		{ u"Root:a:", false, true, u"" },
		{ u"Root:a:b", true, true, u"b" },
		{ u"Root:a:b:c:", true, true, u"b/c/" },
		{ u"Root:a:x/y", true, true, u"x:y" },
		{ u"Root:ab", false, false, u"/ab" },
		{ u"Root:A:b", false, false, u"/A/b" },
		{ u"Root:", false, false, u"/" },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(to_string(Text(row.text))));
		const VFilePath path(Text(row.text), FPS_SYSTEM);
		EXPECT_EQ(path.IsChildOf(folder), row.child);
		EXPECT_EQ(path.IsChildOfRawPath(folder), row.child);
		EXPECT_EQ(path.IsSameOrChildOf(folder), row.sameOrChild);
		VString relative;
		EXPECT_EQ(path.GetRelativePosixPath(folder, relative), row.sameOrChild);
		EXPECT_EQ(Units(relative), row.relative);
		EXPECT_EQ(path.GetRelativePath(folder, relative), row.sameOrChild);
	}

	// The same name composed and decomposed: two files on disk.
	const VFilePath composed(Text(u"Root:caf\u00E9:"), FPS_SYSTEM);
	const VFilePath decomposed(Text(u"Root:cafe\u0301:x"), FPS_SYSTEM);
	EXPECT_FALSE(decomposed.IsChildOf(composed));
	EXPECT_FALSE(decomposed.IsSameOrChildOf(composed));
	const VFilePath file(VString("Root:a"), FPS_SYSTEM);
	EXPECT_FALSE(VFilePath(VString("Root:a:b"), FPS_SYSTEM).IsSameOrChildOf(file));
}

TEST(VFilePathTest, NamesReachTheDiskByteForByte)
{
	const std::vector<std::u16string> names = {
		u"a:b", u"with space", u"hash#1", u"100%", u"caf\u00E9", u"cafe\u0301", u"\U0001F600", u"..x",
	};
	std::vector<std::u16string> natives;
	for (const std::u16string& name : names)
	{
		SCOPED_TRACE(std::string(to_string(Text(name))));
		const std::u16string posix = u"/tmp/" + name;
		const VFilePath path(Text(posix), FPS_POSIX);
		ASSERT_TRUE(path.IsValid());
		EXPECT_EQ(Posix(path), posix);
		natives.push_back(Native(path));

		const std::string bytes = to_string(Text(posix + u"/"));
		VString native;
		ASSERT_TRUE(XMacFilePath::PosixFullPathToHFS(bytes.c_str(), false, native));
		VString back;
		ASSERT_TRUE(XMacFilePath::HFSFullPathToPosix(native, back));
		EXPECT_EQ(to_string(back), bytes);
	}
	EXPECT_NE(natives[4], natives[5]);

	for (const char* bad : { "/\xFF", "/a\xC0\xAF", "/\xED\xA0\x80", "/\xE2\x82", "/\x80", "/\xF4\x90\x80\x80" })
	{
		VString native("unchanged");
		EXPECT_FALSE(XMacFilePath::PosixFullPathToHFS(bad, true, native));
		EXPECT_EQ(to_string(native), "unchanged");
	}
	// An unpaired surrogate has no bytes to name a file with.
	const VFilePath lone(Text(u"Root:a\xDC00"), FPS_SYSTEM);
	EXPECT_TRUE(lone.IsValid());
	EXPECT_EQ(Posix(lone), u"");
}

TEST(VFilePathTest, ExecutableSearchGivesAFilePath)
{
	VString text;
	VFilePath path(VString("Root:stale"), FPS_SYSTEM);
	ASSERT_TRUE(VSystem::SearchExecutablePath(VString("sh"), text));
	ASSERT_TRUE(VSystem::SearchExecutablePath(VString("sh"), path));
	EXPECT_TRUE(path.IsFile());
	EXPECT_EQ(Posix(path), Units(text));
	EXPECT_FALSE(VSystem::SearchExecutablePath(VString("no-such-program-anywhere"), path));
	EXPECT_FALSE(path.IsValid());
	EXPECT_EQ(Native(path), u"");
}

}  // namespace
}  // namespace velk
