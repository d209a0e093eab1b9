// File errors name their item by "name" and "path"; reserved file-name characters go to "%XX" and back;
// a text that cannot be converted to the file's character set leaves the file as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "files/VFileError.h"
#include "files/VFilePath.h"
#include "files/VReservedFileCharacters.h"
#include "kernel/intl/VTextConverters.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

constexpr VError kConversionFailed = MakeVError(kVELK_SIGNATURE, 300);
constexpr VError kCopyFailed = MakeVError(kVELK_SIGNATURE, 605);

VString Text(const std::u16string& units)
{
	return VString(units.data(), int32(units.size()));
}

std::u16string Units(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

struct Reserved
{
	std::u16string plain;
	std::u16string encoded;
};

TEST(VReservedFileCharactersTest, EncodesReservedUnitsAndDecodesThemBack)
{
	const Reserved rows[] = {
		{u"a:b/c", u"a%3Ab%2Fc"},
		{u"plain name.txt", u"plain name.txt"},
		{u"", u""},
		{u"\"%*/:<>?\\|", u"%22%25%2A%2F%3A%3C%3E%3F%5C%7C"},
		{std::u16string(u"\0\x01\x1F", 3), u"%00%01%1F"},
		// The first unit past the control range, DEL and everything from 128 up pass through.
		{u"\x20\x7F\x80\u00E9\U0001F600", u"\x20\x7F\x80\u00E9\U0001F600"},
		{u"100%", u"100%25"},
		{u"%41", u"%2541"},
	};
	for (const Reserved& row : rows)
	{
		SCOPED_TRACE(to_string(Text(row.encoded)));
		EXPECT_EQ(Units(EncodeReservedFileCharacters(Text(row.plain))), row.encoded);
		EXPECT_EQ(Units(DecodeReservedFileCharacters(Text(row.encoded))), row.plain);
	}

	// Texts no encoding produced: either case of digits decodes, a '%' without two digits behind it stays.
	const Reserved decodedOnly[] = {
		{u"100%", u"100%"},
		{u"A", u"%41"},
		{u":", u"%3a"},
		{u"%4", u"%4"},
		{u"%A", u"%%41"},
		{u"%zz", u"%zz"},
		{u"50%off", u"50%off"},
		{u"%/x", u"%/x"},
	};
	for (const Reserved& row : decodedOnly)
	{
		SCOPED_TRACE(to_string(Text(row.encoded)));
		EXPECT_EQ(Units(DecodeReservedFileCharacters(Text(row.encoded))), row.plain);
	}
}

struct Named
{
	const char* name;
	VFileError error;
	const char* expectedName;
	const char* expectedPath;
};

TEST(VFileErrorTest, NamesTheItemByNameAndPath)
{
	const Named rows[] = {
		{"native file", VFileError(VFilePath(VString("Root:home:me:notes.txt"), FPS_SYSTEM), kCopyFailed), "notes.txt",
			"Root:home:me:notes.txt"},
		{"native folder", VFileError(VFilePath(VString("Root:home:me:"), FPS_SYSTEM), kCopyFailed), "me", "Root:home:me:"},
		{"volume root", VFileError(VFilePath(VString("Root:"), FPS_SYSTEM), kCopyFailed), "Root", "Root:"},
		{"from a POSIX path", VFileError(VFilePath(VString("/tmp/a b/"), FPS_POSIX), kCopyFailed), "a b", "Root:tmp:a b:"},
		{"empty path", VFileError(VFilePath(), kCopyFailed), "n/a", "n/a"},
		{"POSIX text", VFileError(VString("/tmp/a/f.txt"), kCopyFailed), "f.txt", "/tmp/a/f.txt"},
		{"empty POSIX text", VFileError(VString(""), kCopyFailed), "n/a", "n/a"},
	};
	for (const Named& row : rows)
	{
		SCOPED_TRACE(row.name);
		VString name;
		VString path;
		EXPECT_EQ(row.error.GetCode(), kCopyFailed);
		EXPECT_TRUE(row.error.GetString(VString("name"), name));
		EXPECT_TRUE(row.error.GetString(VString("path"), path));
		EXPECT_EQ(to_string(name), row.expectedName);
		EXPECT_EQ(to_string(path), row.expectedPath);
	}
}

class VFileConversionTest : public test::VTemporaryFolderTest
{
};

TEST_F(VFileConversionTest, TextTheCharSetCannotHoldLeavesTheFileAsItWas)
{
	// A lone surrogate has no UTF-32 form.
	const VString broken = Text(std::u16string(u"ok ") + char16_t(0xD800) + u" end");
	for (bool existed : {true, false})
	{
		SCOPED_TRACE(existed ? "file existed" : "no file before");
		std::filesystem::remove(fRoot + "data.txt");
		if (existed)
			Write("data.txt", "original");
		StErrorContextInstaller scope(false, true);
		EXPECT_EQ(File("data.txt")->SetContentAsString(broken, kCharSet_UTF32, eCRM_NONE, true), kConversionFailed);
		EXPECT_EQ(scope.GetLastError(), kConversionFailed);
		EXPECT_EQ(std::filesystem::exists(fRoot + "data.txt"), existed);
		if (existed)
		{
			EXPECT_EQ(Read("data.txt"), "original");
		}
	}
}

}  // namespace
}  // namespace velk
