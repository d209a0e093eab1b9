// Char text: conversions in every character set and line-end mode, the own buffer against the heap block,
// copies and moves, and the failures that must leave a converter with a whole, terminated text.
#include "kernel/strings/StStringConverter.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VCppMemMgr.h"
#include "runtime/VError.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// Whether the output lies in the converter's own buffer rather than in a heap block.
bool IsInline(const StStringConverterBase& converter)
{
	const char* begin = reinterpret_cast<const char*>(&converter);
	return converter.GetCPointer() >= begin && converter.GetCPointer() < begin + sizeof(converter);
}

std::string Output(const StStringConverterBase& converter)
{
	return std::string(converter.GetCPointer(), converter.GetSize());
}

// The converter's text, its size, its terminator and its success.
void ExpectText(const StStringConverterBase& converter, const std::string& bytes, bool ok, const std::string& label)
{
	EXPECT_EQ(Output(converter), bytes) << label;
	EXPECT_EQ(converter.GetCPointer()[converter.GetSize()], 0) << label;
	EXPECT_EQ(converter.IsOK(), ok) << label;
}

// A memory manager with no backend refuses every block, for the scope.
class StRefusingMemMgr
{
public:
	StRefusingMemMgr() : fPrevious(VObject::sCppMemMgr), fRefusing(new VCppMemMgr(EAllocatorKind(99))) { VObject::sCppMemMgr = fRefusing; }
	~StRefusingMemMgr()
	{
		VObject::sCppMemMgr = fPrevious;
		delete fRefusing;
	}

private:
	VCppMemMgr* fPrevious;
	VCppMemMgr* fRefusing;
};

class StStringConverterTest : public testing::Test
{
protected:
	// The task's error context is made, with room for an error, before any block is refused.
	void SetUp() override
	{
		_ThrowError(VE_MEMORY_FULL);
		VTask::FlushErrors();
	}
};

TEST_F(StStringConverterTest, ConvertsInTheSetAndMode)
{
	struct Row
	{
		const char* label;
		std::u16string text;
		CharSet set;
		ECarriageReturnMode mode;
		std::string bytes;
		bool ok;
		bool inlineOutput;
	};
	const Row rows[] = {
		{"empty", u"", kCharSet_UTF8, eCRM_NONE, "", true, true},
		{"511 ASCII stay inline", std::u16string(511, u'a'), kCharSet_UTF8, eCRM_NONE, std::string(511, 'a'), true, true},
		{"512 ASCII leave no room for the terminator", std::u16string(512, u'b'), kCharSet_UTF8, eCRM_NONE, std::string(512, 'b'), true, false},
		{"600 ASCII go to the heap", std::u16string(600, u'c'), kCharSet_UTF8, eCRM_NONE, std::string(600, 'c'), true, false},
		{"wide characters grow the block", std::u16string(300, u'\u20AC'), kCharSet_UTF8, eCRM_NONE, [] {
			 std::string euros;
			 for (int i = 0; i < 300; ++i)
				 euros += "\xE2\x82\xAC";
			 return euros;
		 }(), true, false},
		{"UTF-8", u"caf\u00E9", kCharSet_UTF8, eCRM_NONE, "caf\xC3\xA9", true, true},
		{"Mac Roman", u"caf\u00E9", kCharSet_MacRoman, eCRM_NONE, "caf\x8E", true, true},
		{"platform default is Mac Roman", u"caf\u00E9", kCharSet_PlatformDefault, eCRM_NONE, "caf\x8E", true, true},
		{"lone LF under CR LF", u"a\nb", kCharSet_UTF8, eCRM_CRLF, "a\r\nb", true, true},
		{"every end under LF", u"a\r\nb\rc\n", kCharSet_UTF8, eCRM_LF, "a\nb\nc\n", true, true},
		{"ends kept", u"a\r\nb\rc", kCharSet_UTF8, eCRM_NONE, "a\r\nb\rc", true, true},
		{"set without converter", u"abc", 99999, eCRM_NONE, "", false, true},
		{"lone surrogates in UTF-8", u"\xDC00" u"a\xD800" u"b", kCharSet_UTF8, eCRM_NONE, "\xED\xB0\x80" "a\xED\xA0\x80" "b", true, true},
		{"lone surrogates past the own buffer", std::u16string(300, u'\xDC00'), kCharSet_UTF8, eCRM_NONE, [] {
			 std::string lows;
			 for (int i = 0; i < 300; ++i)
				 lows += "\xED\xB0\x80";
			 return lows;
		 }(), true, false},
		{"lone surrogate in UTF-32", u"a\xD800" u"b", kCharSet_UTF32, eCRM_NONE, "", false, true},
	};
	for (const Row& row : rows)
	{
		const VString text(row.text.data(), int32(row.text.size()));
		const StStringConverter<char> converter(text, row.set, row.mode);
		ExpectText(converter, row.bytes, row.ok, row.label);
		EXPECT_EQ(IsInline(converter), row.inlineOutput) << row.label;
	}
}

TEST_F(StStringConverterTest, UTF16OutputEndsWithTwoZeroBytes)
{
	for (const int32 count : {3, 255, 256, 900})
	{
		const std::u16string units(size_t(count), u'\u00E9');
		StStringConverter<char> converter(kCharSet_UTF16, eCRM_NONE);
		converter._ConvertString(units.data(), count, 2);
		const std::string label = std::to_string(count) + " units";
		ASSERT_EQ(converter.GetSize(), size_t(count) * 2) << label;
		EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(converter.GetCPointer()), size_t(count)), units) << label;
		EXPECT_EQ(converter.GetCPointer()[converter.GetSize()], 0) << label;
		EXPECT_EQ(converter.GetCPointer()[converter.GetSize() + 1], 0) << label;
		EXPECT_TRUE(converter.IsOK()) << label;
		EXPECT_EQ(IsInline(converter), count < 256) << label;
	}
}

TEST_F(StStringConverterTest, CopiesAreIndependentAndMovesHandOver)
{
	for (const int32 length : {20, 600})
	{
		const std::string label = std::to_string(length) + " bytes";
		const std::string expected(size_t(length), 'm');
		auto* source = new StStringConverter<char>(VString(expected.c_str()), kCharSet_UTF8, eCRM_NONE);
		const StStringConverter<char> copy(*source);
		EXPECT_NE(copy.GetCPointer(), source->GetCPointer()) << label;
		EXPECT_EQ(IsInline(copy), length < 512) << label;
		delete source;
		ExpectText(copy, expected, true, label + " copy after its source went");

		StStringConverter<char> moved(VString(expected.c_str()), kCharSet_UTF8, eCRM_CRLF);
		const char* heap = moved.GetCPointer();
		StStringConverter<char> taker(std::move(moved));
		ExpectText(taker, expected, true, label + " moved");
		if (length >= 512)
		{
			EXPECT_EQ(taker.GetCPointer(), heap) << label;
			ExpectText(moved, "", true, label + " moved-from");
			EXPECT_TRUE(IsInline(moved)) << label;
		}
		// Both still hold the set's converter and mode.
		moved.ConvertString(VString("a\nb"));
		ExpectText(moved, "a\r\nb", true, label + " moved-from reused");
	}
}

// Neither a refused copy nor a refused conversion leaves a pointer into another block or half a text.
TEST_F(StStringConverterTest, RefusedBlocksGiveEmptyFailedText)
{
	const VString text(std::u16string(600, u'r').c_str());
	const StStringConverter<char> source(text, kCharSet_UTF8, eCRM_NONE);
	VError copyError = VE_OK;
	VError conversionError = VE_OK;
	{
		StRefusingMemMgr refusing;
		const StStringConverter<char> copy(source);
		copyError = VTask::GetLastError();
		ExpectText(copy, "", false, "refused copy");
		EXPECT_TRUE(IsInline(copy));
		VTask::FlushErrors();
		const StStringConverter<char> converter(text, kCharSet_UTF8, eCRM_NONE);
		conversionError = VTask::GetLastError();
		ExpectText(converter, "", false, "refused conversion");
	}
	EXPECT_EQ(copyError, VE_MEMORY_FULL);
	EXPECT_TRUE(conversionError == MakeVError(kVELK_SIGNATURE, 300) || conversionError == VE_MEMORY_FULL) << conversionError;
	ExpectText(source, std::string(600, 'r'), true, "source of the refused copy");
}

// A high surrogate that ends the text is left unconsumed, so the heap pass produces no byte at all: the
// converter must still know its block's true size, or the next conversion would write far past it.
TEST_F(StStringConverterTest, BlockSizeSurvivesAnEmptyHeapPass)
{
	StStringConverter<char> converter(kCharSet_UTF8, eCRM_NONE);
	const UniChar high = 0xD83D;
	converter._ConvertString(&high, 1, 1);
	// The text cannot be converted whole: nothing comes out, and the conversion says it failed.
	ExpectText(converter, "", false, "lone high surrogate");
	converter.ConvertString(VString(std::u16string(600, u'n').c_str()));
	ExpectText(converter, std::string(600, 'n'), true, "after the empty pass");
	const StStringConverter<char> copy(converter);
	ExpectText(copy, std::string(600, 'n'), true, "copy after the empty pass");
	// The block stays the output, and grows again.
	converter.ConvertString(VString("short"));
	ExpectText(converter, "short", true, "short into the block");
	EXPECT_FALSE(IsInline(converter));
	converter.ConvertString(VString(std::u16string(2000, u'y').c_str()));
	ExpectText(converter, std::string(2000, 'y'), true, "longer");
}

}  // namespace
}  // namespace velk
