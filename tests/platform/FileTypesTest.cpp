// Document types from the shared MIME-info database: declarations, the type of an extension or a file
// name, and conformance through parents, on the system's database and on a small one with a cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FileTypes.h"
#include "platform/TemporaryHomeTest.h"

namespace {

bool Contains(const std::vector<std::string>& list, const char* value)
{
	return value == nullptr || std::ranges::find(list, value) != list.end();
}

using FileTypesTest = TemporaryHomeTest;

TEST_F(FileTypesTest, DeclarationsOfKnownTypes)
{
	if (plat::GetFileTypeDatabase().IsEmpty())
		GTEST_SKIP() << "no shared MIME-info database in /usr/share/mime";
	struct
	{
		const char* identifier;
		bool found;
		const char* description;
		const char* extension;  // one of its extensions
		const char* parent;  // one of its parents
	} const cases[] = {
		{ "text/plain", true, "plain text document", "txt", nullptr },
		{ "text/x-csrc", true, "C source code", "c", "text/plain" },
		{ "application/x-compressed-tar", true, "Tar archive (gzip-compressed)", "tar.gz", "application/gzip" },
		{ "application/x-velk-unknown", false, "", nullptr, nullptr },
		// An identifier is never a path into the database.
		{ "text/../text/plain", false, "", nullptr, nullptr },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.identifier);
		plat::FileTypeDeclaration declaration;
		EXPECT_EQ(plat::GetFileTypeDatabase().GetDeclaration(testCase.identifier, declaration), testCase.found);
		EXPECT_EQ(declaration.identifier, testCase.found ? testCase.identifier : "");
		EXPECT_EQ(declaration.description, testCase.description);
		EXPECT_TRUE(Contains(declaration.extensions, testCase.extension));
		EXPECT_TRUE(Contains(declaration.parents, testCase.parent));
	}
}

TEST_F(FileTypesTest, TypesOfFileNames)
{
	if (plat::GetFileTypeDatabase().IsEmpty())
		GTEST_SKIP() << "no shared MIME-info database in /usr/share/mime";
	struct
	{
		const char* name;
		const char* identifier;  // "" for none
	} const cases[] = {
		{ "notes.txt", "text/plain" },
		{ "NOTES.TXT", "text/plain" },
		// Case-sensitive globs: "c" is C, "C" is C++.
		{ "/src/main.c", "text/x-csrc" },
		{ "main.C", "text/x-c++src" },
		{ "backup.tar.gz", "application/x-compressed-tar" },
		{ "backup.velk.gz", "application/gzip" },
		{ "file.velk-none", "" },
		{ "README", "" },
		{ ".txt", "" },
		{ "folder.txt/README", "" },
		{ "name.", "" },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.name);
		std::string identifier;
		EXPECT_EQ(plat::GetFileTypeDatabase().GetIdentifierForFileName(testCase.name, identifier), *testCase.identifier != 0);
		EXPECT_EQ(identifier, testCase.identifier);
	}
}

TEST_F(FileTypesTest, ConformanceWalksParents)
{
	if (plat::GetFileTypeDatabase().IsEmpty())
		GTEST_SKIP() << "no shared MIME-info database in /usr/share/mime";
	struct
	{
		const char* type;
		const char* parent;
		bool conforms;
	} const cases[] = {
		{ "text/x-c++hdr", "text/plain", true },
		{ "application/x-compressed-tar", "application/gzip", true },
		{ "text/plain", "text/x-csrc", false },
		{ "x-velk/unknown", "x-velk/unknown", true },
		{ "x-velk/unknown", "text/plain", false },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(std::string(testCase.type) + " " + testCase.parent);
		EXPECT_EQ(plat::GetFileTypeDatabase().ConformsTo(testCase.type, testCase.parent), testCase.conforms);
	}
}

TEST_F(FileTypesTest, ADatabaseWithACycleAndWeights)
{
	const std::string folder = fRoot + "/mime";
	std::filesystem::create_directories(folder + "/a");
	std::ofstream(folder + "/types") << "a/b\na/c\na/d\n";
	std::ofstream(folder + "/subclasses") << "a/b a/c\na/c a/b\na/c a/d\n";
	std::ofstream(folder + "/globs2") << "# generated\n80:a/c:*.one\n50:a/b:*.one\n50:a/b:*.Two:cs\n50:a/c:*.two\n50:a/b:*.[ch]\n"
										 "50:a/b:*.one\n";
	std::ofstream(folder + "/a/b.xml") << "<mime-type type=\"a/b\">\n  <comment xml:lang=\"fr\">le b</comment>\n"
										  "  <comment>&lt;B&gt; &amp; \xC3\xA9t\xC3\xA9</comment>\n</mime-type>\n";
	const plat::FileTypeDatabase database(folder);

	struct
	{
		const char* type;
		const char* parent;
		bool conforms;
	} const conformance[] = {
		{ "a/b", "a/c", true },
		{ "a/b", "a/d", true },
		{ "a/c", "a/b", true },
		{ "a/d", "a/b", false },
		// The cycle is walked once and the answer is no.
		{ "a/b", "a/none", false },
	};
	for (const auto& testCase : conformance)
	{
		SCOPED_TRACE(std::string(testCase.type) + " " + testCase.parent);
		EXPECT_EQ(database.ConformsTo(testCase.type, testCase.parent), testCase.conforms);
	}

	struct
	{
		const char* extension;
		const char* identifier;
	} const extensions[] = {
		{ "one", "a/c" },
		{ "Two", "a/b" },
		{ "two", "a/c" },
		{ "TWO", "a/c" },
		{ "c", "" },
	};
	for (const auto& testCase : extensions)
	{
		SCOPED_TRACE(testCase.extension);
		std::string identifier;
		EXPECT_EQ(database.GetIdentifierForExtension(testCase.extension, identifier), *testCase.identifier != 0);
		EXPECT_EQ(identifier, testCase.identifier);
	}

	plat::FileTypeDeclaration declaration;
	ASSERT_TRUE(database.GetDeclaration("a/b", declaration));
	EXPECT_EQ(declaration.description, "<B> & \xC3\xA9t\xC3\xA9");
	EXPECT_EQ(declaration.extensions, (std::vector<std::string>{ "one", "Two" }));
	EXPECT_EQ(declaration.parents, (std::vector<std::string>{ "a/c" }));
	ASSERT_TRUE(database.GetDeclaration("a/d", declaration));
	EXPECT_EQ(declaration.description, "");
	EXPECT_TRUE(declaration.extensions.empty());

	const plat::FileTypeDatabase missing(fRoot + "/absent");
	EXPECT_TRUE(missing.IsEmpty());
	EXPECT_FALSE(missing.GetDeclaration("a/b", declaration));
}

}  // namespace
