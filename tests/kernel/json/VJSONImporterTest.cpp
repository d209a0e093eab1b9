// JSON text parsing: malformed reports with their line and position, number and string syntax, nesting
// bound, file and bag entry points, and recorded paths.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/VTemporaryFolderTest.h"
#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "files/VFile.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VTime.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/values/VValueInfo.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VTask.h"
#include "common/VFailingAllocations.h"

namespace velk {
namespace {

std::string Utf8(const VString& text)
{
	std::string out;
	for (int32 i = 0; i < text.GetLength(); ++i)
	{
		const UniChar c = text.GetCPointer()[i];
		if (c >= 0x20 && c < 0x80)
			out += char(c);
		else
			out += "\\u" + std::to_string(c);
	}
	return out;
}

// A compact, order-keeping text of a value, for comparing whole trees.
std::string Describe(const VJSONValue& value)
{
	switch (value.GetType())
	{
		case JSON_null:
			return "null";
		case JSON_true:
			return "true";
		case JSON_false:
			return "false";
		case JSON_undefined:
			return "undefined";
		case JSON_number:
		{
			char text[64];
			snprintf(text, sizeof(text), "%.17g", value.GetNumber());
			return text;
		}
		case JSON_string:
			return "\"" + Utf8(value.GetString()) + "\"";
		case JSON_array:
		{
			std::vector<VJSONValue> values;
			value.GetArray()->GetValues(values);
			std::string out = "[";
			for (size_t i = 0; i < values.size(); ++i)
				out += (i ? "," : "") + Describe(values[i]);
			return out + "]";
		}
		case JSON_object:
		{
			std::vector<VString> names;
			value.GetObject()->GetPropertyNamesInOrder(names);
			std::string out = "{";
			for (size_t i = 0; i < names.size(); ++i)
				out += (i ? "," : "") + Utf8(names[i]) + ":" + Describe(value.GetProperty(names[i]));
			return out + "}";
		}
		case JSON_date:
		{
			int16 year = 0, month = 0, day = 0;
			value.GetDate(&year, &month, &day);
			char text[32];
			snprintf(text, sizeof(text), "date:%04d-%02d-%02d", year, month, day);
			return text;
		}
		default:
			return "?";
	}
}

// The errors a scope collected: "551 found=a expected=\" | 550 line=1 position=2".
std::string Errors(const StErrorContextInstaller& scope)
{
	std::string out;
	for (const auto& error : scope.GetContext()->GetErrors())
	{
		if (!out.empty())
			out += " | ";
		out += std::to_string(ERRCODE_NUMBER(error->GetCode()));
		for (const char* name : {"found", "expected", "token", "source"})
		{
			VString text;
			if (error->GetString(VString(name), text) && !(std::string(name) == "source" && text.IsEmpty()))
				out += std::string(" ") + name + "=" + Utf8(text);
		}
		for (const char* name : {"line", "position"})
		{
			int32 number = 0;
			if (error->GetLong(VString(name), number))
				out += std::string(" ") + name + "=" + std::to_string(number);
		}
	}
	return out;
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
	for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
		text.replace(at, from.size(), to);
	return text;
}

TEST(VJSONImporter, MalformedTextReportsCodeLineAndPosition)
{
	const uint32 strict = VJSONImporter::kStrict;
	struct Row
	{
		const char* text;  // "\n" stands for the line break under test
		uint32 options;
		const char* errors;
	};
	const Row rows[] = {
		{"{\"a\":1,}", 0, "553 token=} | 550 line=1 position=8"},
		{"[1,]", strict, "553 token=] | 550 line=1 position=4"},
		{"{a:1}", strict, "551 found=a expected=\" | 550 line=1 position=2"},
		{"[hello]", strict, "551 found=hello expected=\" 0-9 null true false { [ ] | 550 line=1 position=2"},
		{"[1.]", 0, "551 found=1. expected=+- 0-9 eE | 550 line=1 position=2"},
		{"[1e]", strict, "551 found=1e expected=+- 0-9 eE | 550 line=1 position=2"},
		{"[01]", 0, "551 found=01 expected=+- 0-9 eE | 550 line=1 position=2"},
		{"[1x]", strict, "551 found=1x expected=+- 0-9 eE | 550 line=1 position=2"},
		{"", 0, "554 found= expected=\" 0-9 null true false { [ | 550 line=1 position=1"},
		{" \n ", 0, "554 found= expected=\" 0-9 null true false { [ | 550 line=2 position=2"},
		{"[", 0, "554 found= expected=\" 0-9 null true false { [ ] | 550 line=1 position=2"},
		{"[1,", 0, "554 found= expected=\" 0-9 null true false { [ | 550 line=1 position=4"},
		{"\"abc", strict, "552 token=\" | 550 line=1 position=1"},
		{"{\"a\" 1}", 0, "551 found=1 expected=: | 550 line=1 position=6"},
		{"{\"a\":1 \"b\":2}", 0, "551 found=b expected=} , | 550 line=1 position=8"},
		{"{,}", 0, "551 found=, expected=\" } | 550 line=1 position=2"},
		{"{\"a\":}", 0, "551 found=} expected=\" 0-9 null true false { [ | 550 line=1 position=6"},
		{"[1,\n2,\n  3 4]", 0, "551 found=4 expected=] , | 550 line=3 position=5"},
		{"{\n\"a\":\n1,\n}", 0, "553 token=} | 550 line=4 position=1"},
		{"[\"x\",\n\"open", strict, "552 token=\" | 550 line=2 position=1"},
	};
	for (const Row& row : rows)
	{
		for (const char* lineBreak : {"\n", "\r", "\r\n"})
		{
			const std::string text = Replace(row.text, "\n", lineBreak);
			SCOPED_TRACE(Replace(Replace(text, "\r", "<CR>"), "\n", "<LF>") + " options " + std::to_string(row.options));
			StErrorContextInstaller scope(false, false);
			VJSONValue value;
			EXPECT_EQ(VJSONImporter::ParseString(VString(text.c_str()), value, row.options), VE_JSON_MALFORMED);
			EXPECT_EQ(Errors(scope), row.errors);
		}
	}
}

TEST(VJSONImporter, SilentAndUndefinedOnErrorOptions)
{
	struct Row
	{
		const char* text;
		uint32 options;
		const char* errors;
		const char* value;
	};
	const uint32 silent = VJSONImporter::kSilent;
	const uint32 undefinedOnError = VJSONImporter::kUndefinedOnError;
	const Row rows[] = {
		{"[1,2 x]", silent, "", "[1,2]"},
		{"[1,2 x]", silent | undefinedOnError, "", "undefined"},
		{"{\"a\":[1,]}", silent, "553 token=] | 550 line=1 position=9", "{}"},
		{"\"open", silent | VJSONImporter::kStrict, "552 token=\" | 550 line=1 position=1", "undefined"},
		{"", silent, "", "undefined"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.text);
		StErrorContextInstaller scope(false, false);
		VJSONValue value;
		EXPECT_EQ(VJSONImporter::ParseString(VString(row.text), value, row.options), VE_JSON_MALFORMED);
		EXPECT_EQ(Errors(scope), row.errors);
		EXPECT_EQ(Describe(value), row.value);
	}
}

TEST(VJSONImporter, ValuesInStrictAndLenientMode)
{
	struct Row
	{
		const char* text;
		const char* strict;   // null: malformed in strict mode
		const char* lenient;  // null: malformed in lenient mode too
	};
	const Row rows[] = {
		{"[0, -0.5E+3, 12.25, 1e\xE2\x88\x92" "2, 1E2, -]", "[0,-500,12.25,0.01,100,0]", "[0,-500,12.25,0.01,100,0]"},
		{"[-a]", nullptr, nullptr},
		{"[.5]", nullptr, "[\".5\"]"},
		{"[hello, true, null, false]", nullptr, "[\"hello\",true,null,false]"},
		{"{a:1}", nullptr, "{a:1}"},
		{"{\"a\":1,\"b\":{},\"a\":[]}", "{a:[],b:{}}", "{a:[],b:{}}"},
		{"[\"\\q\\/\\\\\\\"\", \"\\u0041\\u0g41\", \"\\b\\f\\n\\r\\t\"]", "[\"q/\\\"\",\"AA\",\"\\u8\\u12\\u10\\u13\\u9\"]", "[\"q/\\\"\",\"AA\",\"\\u8\\u12\\u10\\u13\\u9\"]"},
		{"\"\\uD83D\\uDE00\"", "\"\\u55357\\u56832\"", "\"\\u55357\\u56832\""},
		{"\"open", nullptr, "\"open\""},
		{"\"short \\u00", nullptr, "\"short \""},
		{"[1] trailing", "[1]", "[1]"},
		{" {\n\"k\"\r\n:\t\"v\"} ", "{k:\"v\"}", "{k:\"v\"}"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.text);
		for (const bool strict : {true, false})
		{
			const char* expected = strict ? row.strict : row.lenient;
			StErrorContextInstaller scope(false, false);
			VJSONValue value;
			const VError error = VJSONImporter::ParseString(VString(row.text), value, strict ? VJSONImporter::kStrict : 0);
			EXPECT_EQ(error, expected ? VE_OK : VE_JSON_MALFORMED) << (strict ? "strict" : "lenient");
			if (expected != nullptr)
			{
				EXPECT_EQ(Describe(value), expected) << (strict ? "strict" : "lenient");
				EXPECT_EQ(Errors(scope), "");
			}
		}
	}
	// A NUL inside a string is dropped.
	const UniChar withNul[] = {u'"', u'a', 0, u'b', u'"'};
	VJSONValue value;
	EXPECT_EQ(VJSONImporter::ParseString(VString(withNul, 5), value, VJSONImporter::kStrict), VE_OK);
	EXPECT_EQ(Describe(value), "\"ab\"");
}

// Every number word reads as the very double the string's own conversion gives (the bits compared, so that
// -0 stays negative), through the exact shortcut for short mantissas and small powers of ten, the
// correctly rounded reading of longer words, and the words beyond the range of doubles.
TEST(VJSONImporter, NumbersReadAsTheStringConversion)
{
	std::vector<std::string> words = {"0", "-0", "-0.0e7", "7", "-12.5E+3", "0.1", "0.30000000000000004", "1e22", "1e23",
		"-1e-22", "1e-23", "9007199254740992", "9007199254740993", "18446744073709551615", "1234567890123456789",
		"12345678901234567890", "123456789012345678901234567890e-10", "0.000000000000000000000000000001",
		"2.2250738585072011e-308", "2.2250738585072014e-308", "4.9e-324", "2.4703282292062327e-324",
		"1.7976931348623157e308", "1.7976931348623159e308", "1e400", "-1e400", "1e-400", "1e00000000000000000001",
		"-", "5e-1", "89255.0e-22", "8925.5e-21", "1E\xE2\x88\x92" "2", "3.14159265358979323846264338327950288"};
	std::mt19937_64 random(20260601);
	char text[64];
	for (int i = 0; i < 3000; ++i)
	{
		uint64_t bits = random();
		double number = 0;
		std::memcpy(&number, &bits, sizeof(number));
		if (std::isfinite(number))
		{
			std::snprintf(text, sizeof(text), i % 3 == 0 ? "%.17g" : (i % 3 == 1 ? "%.15g" : "%.16e"), number);
			words.push_back(text);
		}
		// Mantissas around 2^53 and powers of ten around the exact range.
		std::snprintf(text, sizeof(text), "%llue%d", static_cast<unsigned long long>(random() % 20000000000000000ull),
			int(random() % 61) - 30);
		words.push_back(text);
		// Up to 19 digits, read exactly in 64 bits, with a point and small exponents either way.
		std::snprintf(text, sizeof(text), "-%llu.%06llue%d", static_cast<unsigned long long>(random() % 10000000000000ull),
			static_cast<unsigned long long>(random() % 1000000ull), int(random() % 41) - 20);
		words.push_back(text);
		std::snprintf(text, sizeof(text), "%llu", static_cast<unsigned long long>(random() % 10000000000000000000ull));
		words.push_back(text);
	}
	for (const std::string& word : words)
	{
		SCOPED_TRACE(word);
		std::string ascii = word;
		for (size_t at = ascii.find("\xE2\x88\x92"); at != std::string::npos; at = ascii.find("\xE2\x88\x92"))
			ascii.replace(at, 3, "-");
		const double expected = VString(ascii.c_str()).GetReal();
		VJSONValue value;
		ASSERT_EQ(VJSONImporter::ParseString(VString(word.c_str()), value, VJSONImporter::kStrict), VE_OK);
		ASSERT_TRUE(value.IsNumber());
		const double read = value.GetNumber();
		EXPECT_EQ(std::memcmp(&read, &expected, sizeof(read)), 0) << read << " " << expected;
	}
}

// Names and strings come out as written whichever way they are read: left in the text and made once,
// decoded from escapes, or shared with an equal name met before, even when many different names compete
// for the same few shared ones.
TEST(VJSONImporter, NamesAndStringsAsWritten)
{
	std::string text = "[";
	for (int i = 0; i < 900; ++i)
	{
		const std::string shared = "k" + std::to_string(i % 300);
		const std::string own = "n" + std::to_string(i);
		text += (i > 0 ? "," : "") + std::string("{\"") + shared + "\":" + std::to_string(i) + ",\"" + own + "\":\"v" +
				std::to_string(i) + (i % 7 == 0 ? "\\n\\u0041" : "") + "\",\"\":\"\",\"e\\u0073c\":\"" + shared + "\"}";
	}
	text += "]";
	VJSONValue value;
	ASSERT_EQ(VJSONImporter::ParseString(VString(text.c_str()), value, VJSONImporter::kStrict), VE_OK);
	ASSERT_TRUE(value.IsArray());
	ASSERT_EQ(value.GetArray()->GetCount(), 900u);
	for (int i = 0; i < 900; ++i)
	{
		SCOPED_TRACE(i);
		const VJSONValue element = value.GetArray()->GetAt(size_t(i));
		const std::string shared = "k" + std::to_string(i % 300);
		const std::string own = "n" + std::to_string(i);
		EXPECT_EQ(Describe(element), "{" + shared + ":" + std::to_string(i) + "," + own + ":\"v" + std::to_string(i) +
										 (i % 7 == 0 ? "\\u10A" : "") + "\",:\"\",esc:\"" + shared + "\"}");
	}
}

// A unit that ends a plain run of a string, or one that only looks like it might (a tab, other controls),
// is read rightly at every place of a string long enough to be scanned in blocks, in names and in values.
TEST(VJSONImporter, StringUnitsAtEveryPlace)
{
	const struct
	{
		const char* fWritten;
		std::u16string fRead;
	} kUnits[] = {
		{"\\\"", u"\""}, {"\\\\", u"\\"}, {"\\n", u"\n"}, {"\\u00e9", u"\u00E9"}, {"\t", u"\t"},
		{"\x0b", u"\x0B"}, {"\x0c", u"\x0C"}, {"\x01", u"\x01"}, {"\xc3\xa9", u"\u00E9"}, {"\xe2\x80\xa8", u"\u2028"},
	};
	for (const auto& unit : kUnits)
	{
		for (size_t place = 0; place <= 20; ++place)
		{
			SCOPED_TRACE(std::string(unit.fWritten) + " at " + std::to_string(place));
			const std::string written = std::string(place, 'a') + unit.fWritten + std::string(20 - place, 'b');
			const std::u16string read = std::u16string(place, u'a') + unit.fRead + std::u16string(20 - place, u'b');
			VJSONValue value;
			ASSERT_EQ(VJSONImporter::ParseString(VString(("{\"" + written + "\":\"" + written + "\"}").c_str()), value, 0), VE_OK);
			const VString expected(read.data(), int32(read.size()));
			std::vector<VString> names;
			ASSERT_TRUE(value.IsObject());
			value.GetObject()->GetPropertyNames(names);
			ASSERT_EQ(names.size(), 1u);
			EXPECT_TRUE(names[0].EqualToStringRaw(expected)) << Utf8(names[0]);
			VString text;
			value.GetProperty(expected).GetString(text);
			EXPECT_TRUE(text.EqualToStringRaw(expected)) << Utf8(text);
		}
	}
}

TEST(VJSONImporter, NestingIsBounded)
{
	const uint32 limit = VJSONImporter::kMaxNestingDepth;
	struct Row
	{
		std::string text;
		bool passes;
		std::string errors;
	};
	const std::string deepest = std::string(limit, '[') + std::string(limit, ']');
	const std::string tooDeep = std::string(limit + 1, '[') + std::string(limit + 1, ']');
	std::string deepObjects;
	for (uint32 i = 0; i <= limit; ++i)
		deepObjects += "{\"a\":";
	const std::string position = std::to_string(limit + 1);
	const std::string objectPosition = std::to_string(5 * limit + 1);
	const Row rows[] = {
		{deepest, true, ""},
		{tooDeep, false, "108 | 550 line=1 position=" + position},
		{std::string(100000, '['), false, "108 | 550 line=1 position=" + position},
		{deepObjects, false, "108 | 550 line=1 position=" + objectPosition},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.text.substr(0, 12) + "... " + std::to_string(row.text.size()));
		StErrorContextInstaller scope(false, false);
		VJSONValue value;
		EXPECT_EQ(VJSONImporter::ParseString(VString(row.text.c_str()), value, VJSONImporter::kStrict),
			row.passes ? VE_OK : VE_JSON_MALFORMED);
		if (!row.passes)
		{
			EXPECT_EQ(Errors(scope), row.errors);
		}
	}
}

class VJSONImporterFileTest : public test::VTemporaryFolderTest
{
};

TEST_F(VJSONImporterFileTest, EntryPointsOfValues)
{
	StErrorContextInstaller scope(false, false);
	VJSONValue value;
	// Dates recognised as the options say: the extended form reads only the marked, non-ambiguous texts.
	struct Row
	{
		uint32 options;
		const char* expected;
	};
	const char* text = "[\"2024-02-29\",\"!!2024-02-29!!\",\"!!2024-02-29T10:00:00Z!!\",\"!!x!!\",\"2024-13-40\"]";
	const Row rows[] = {
		{0, "[\"2024-02-29\",\"!!2024-02-29!!\",\"!!2024-02-29T10:00:00Z!!\",\"!!x!!\",\"2024-13-40\"]"},
		{VJSONImporter::kBangDates, "[\"2024-02-29\",date:2024-02-29,date:2024-02-29,\"!!x!!\",\"2024-13-40\"]"},
		// A date of the right shape that is not in the calendar is the zero date, as times read it.
		{VJSONImporter::kISODates, "[date:2024-02-29,\"!!2024-02-29!!\",\"!!2024-02-29T10:00:00Z!!\",\"!!x!!\",date:0000-00-00]"},
		{VJSONImporter::kBangDates | VJSONImporter::kNonAmbiguousDates,
			"[\"2024-02-29\",date:2024-02-29,\"!!2024-02-29T10:00:00Z!!\",\"!!x!!\",\"2024-13-40\"]"},
	};
	for (const Row& row : rows)
	{
		EXPECT_EQ(VJSONImporter::ParseString(VString(text), value, row.options), VE_OK);
		EXPECT_EQ(Describe(value), row.expected) << row.options;
	}
	EXPECT_EQ(value.ParseFromString(VString("{\"d\":\"2024-02-29\",\"e\":\"!!2024-02-29!!\"}"), true, true), VE_OK);
	EXPECT_EQ(Describe(value), "{d:\"2024-02-29\",e:date:2024-02-29}");
	// Written back with the marks, the date reads again as the same date.
	VString written;
	ASSERT_EQ(value.Stringify(written, VTime::kJSON_QUOTED | VTime::kJSON_DATE_MARKS | VTime::kJSON_DATE_ONLY_AT_MIDNIGHT), VE_OK);
	EXPECT_EQ(Utf8(written), "{\"d\":\"2024-02-29\",\"e\":\"!!2024-02-29!!\"}");

	VRefPtr<VFile> good = Write("good.json", "\xEF\xBB\xBF{\"name\":\"caf\xC3\xA9\",\r\n\"n\":[1,2]}");
	EXPECT_EQ(value.LoadFromFile(good.Get(), false), VE_OK);
	EXPECT_EQ(Describe(value), "{name:\"caf\\u233\",n:[1,2]}");

	VRefPtr<VFile> bad = Write("bad.json", "{\"a\":1,\n}");
	EXPECT_EQ(value.LoadFromFile(bad.Get(), false), VE_JSON_MALFORMED);
	EXPECT_EQ(Errors(scope), "553 token=} | 550 source=" + fRoot + "bad.json,  line=2 position=1");

	VRefPtr<VFile> missing(new VFile(VString((fRoot + "missing.json").c_str()), FPS_POSIX), true);
	const VError error = value.LoadFromFile(missing.Get(), false);
	EXPECT_NE(error, VE_OK);
	EXPECT_NE(error, VE_JSON_MALFORMED);

	EXPECT_EQ(VJSONImporter::ParseFile(nullptr, value, 0), VE_OK);
	EXPECT_TRUE(value.IsUndefined());
}

TEST(VJSONImporter, ObjectToBag)
{
	VJSONImporter importer(VString("{\"n\":1e5,\"big\":123456789012345678901,\"i\":-42,\"r\":2.5,\"m\":1e\xE2\x88\x92" "1,"
									"\"s\":\"x\",\"b\":true,\"o\":{\"k\":1},\"arr\":[{\"a\":1},7,\"t\"],\"__CDATA\":\"text\","
									"\"d\":\"2024-02-29\",\"nd\":\"!!2024-02-29!!\"}"),
		0);
	VRefPtr<VValueBag> bag(new VValueBag(), true);
	ASSERT_EQ(importer.JSONObjectToBag(*bag), VE_OK);
	struct Row
	{
		const char* key;
		ValueKind kind;
		double number;
	};
	const Row rows[] = {
		{"n", VK_REAL, 1e5}, {"big", VK_REAL, 123456789012345678901.0}, {"i", VK_LONG8, -42},
		{"r", VK_REAL, 2.5}, {"m", VK_REAL, 0.1}, {"b", VK_BOOLEAN, 1},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.key);
		const VValueSingle* attribute = bag->GetAttribute(row.key);
		ASSERT_NE(attribute, nullptr);
		EXPECT_EQ(attribute->GetValueInfo()->GetKind(), row.kind);
		EXPECT_DOUBLE_EQ(attribute->GetReal(), row.number);
	}
	VString text;
	EXPECT_TRUE(bag->GetString("s", text));
	EXPECT_EQ(Utf8(text), "x");
	// An ISO date text is a time; the marked form only with the non-ambiguous option.
	EXPECT_NE(dynamic_cast<const VTime*>(bag->GetAttribute("d")), nullptr);
	EXPECT_NE(dynamic_cast<const VString*>(bag->GetAttribute("nd")), nullptr);
	EXPECT_TRUE(bag->GetString(VValueBag::CDataAttributeName(), text));
	EXPECT_EQ(Utf8(text), "text");

	ASSERT_NE(bag->GetElements("o"), nullptr);
	ASSERT_EQ(bag->GetElements("o")->GetCount(), 1);
	VRefPtr<VValueBag> object(bag->GetElements("o")->RetainNth(1), true);
	bool marker = false;
	EXPECT_TRUE(object->GetBool("____objectunic", marker) && marker);
	int64 k = 0;
	EXPECT_TRUE(object->GetLong8("k", k) && k == 1);

	VBagArray* elements = bag->GetElements("arr");
	ASSERT_NE(elements, nullptr);
	ASSERT_EQ(elements->GetCount(), 3);
	VRefPtr<VValueBag> first(elements->RetainNth(1), true);
	VRefPtr<VValueBag> second(elements->RetainNth(2), true);
	VRefPtr<VValueBag> third(elements->RetainNth(3), true);
	EXPECT_FALSE(first->GetBool("____objectunic", marker));
	EXPECT_TRUE(first->GetLong8("a", k) && k == 1);
	EXPECT_TRUE(second->GetLong8("____FakeArrayElement", k) && k == 7);
	EXPECT_TRUE(third->GetString("____FakeArrayElement", text) && Utf8(text) == "t");

	struct BadRow
	{
		const char* text;
		const char* errors;
	};
	const BadRow bad[] = {
		{"[1]", "551 found=[ expected={ | 550 line=1 position=1"},
		{"{\"a\":[[1]]}", "551 found=[ expected=\" 0-9 null true false { | 550 line=1 position=7"},
		{"{\"a\" 1}", "551 found=1 expected=: | 550 line=1 position=6"},
		{"{\"a\":}", "551 found=} expected=\" 0-9 null true false { [ | 550 line=1 position=6"},
	};
	for (const BadRow& row : bad)
	{
		SCOPED_TRACE(row.text);
		StErrorContextInstaller scope(false, false);
		VJSONImporter failing(VString(row.text), 0);
		VRefPtr<VValueBag> target(new VValueBag(), true);
		EXPECT_EQ(failing.JSONObjectToBag(*target), VE_JSON_MALFORMED);
		EXPECT_EQ(Errors(scope), row.errors);
	}
}

// Texts damaged at random (units changed, cut short, repeated) parse or fail cleanly under every mode; what
// parses writes back to text that parses to an equal value. Objects and arrays of every size meet the
// gathering of their members and the room made for them.
TEST(VJSONImporter, DamagedTextsParseOrFailCleanly)
{
	std::string wide = "{";
	for (int i = 0; i < 40; ++i)
		wide += (i > 0 ? "," : "") + std::string("\"k") + std::to_string(i % 30) + "\":" + std::to_string(i);
	wide += "}";
	const std::string seeds[] = {
		R"({"a":[1,2.5e3,-0,"x\u00e9\n",true,null,{"b":{}}],"c":{"d":[[],[[]],{"e":"f"}]},"a":3})",
		R"([{"id":1,"name":"one","tags":["x","y"]},{"id":2,"name":"two","tags":[]},[1,[2,[3,[4]]]]])",
		wide,
	};
	std::mt19937 random(31);
	const char kUnits[] = "{}[]:,\"\\ 0123456789.eE-+truefalsnul\x01";
	size_t parsed = 0;
	for (int round = 0; round < 3000; ++round)
	{
		std::string text = seeds[size_t(round) % (sizeof(seeds) / sizeof(seeds[0]))];
		const int changes = 1 + int(random() % 4);
		for (int change = 0; change < changes && !text.empty(); ++change)
		{
			const size_t at = random() % text.size();
			switch (random() % 4)
			{
				case 0:
					text[at] = kUnits[random() % (sizeof(kUnits) - 1)];
					break;
				case 1:
					text.resize(at);
					break;
				case 2:
					text.insert(at, text.substr(at, random() % 12));
					break;
				default:
					text.erase(at, 1 + random() % 3);
					break;
			}
		}
		for (const uint32 options : {uint32(0), uint32(VJSONImporter::kStrict), uint32(VJSONImporter::kUndefinedOnError | VJSONImporter::kSilent)})
		{
			SCOPED_TRACE(text + " options " + std::to_string(options));
			StErrorContextInstaller scope(false, true);
			VJSONValue value;
			if (VJSONImporter::ParseString(VString(text.c_str()), value, options) != VE_OK)
				continue;
			++parsed;
			VString written;
			ASSERT_EQ(value.Stringify(written, VString::kJSON_WITH_QUOTES), VE_OK);
			VJSONValue again;
			ASSERT_EQ(again.ParseFromString(written), VE_OK) << to_string(written);
			EXPECT_TRUE(again.DeepEqualTo(value, VCompareOptions())) << to_string(written);
		}
	}
	EXPECT_GT(parsed, 100u);
}

TEST(VJSONImporter, PathsAndLines)
{
	VJSONImporter importer(VString("{\"a\":{\"b\":[1,\n {\"c\":2}]}\n}"), VJSONImporter::kPathsAndLines);
	VJSONValue value;
	ASSERT_EQ(importer.Parse(value), VE_OK);
	VJSONValue paths(importer.GetPathsLines());
	EXPECT_EQ(Describe(paths),
		"{a:{line:1,offset:1},a.b:{line:1,offset:6},a.b[0]:{line:1,offset:11},a.b[1]:{line:2,offset:1},"
		"a.b[1].c:{line:2,offset:2},}:{line:3,offset:0}}");
	VJSONImporter without(VString("{}"), 0);
	EXPECT_EQ(without.GetPathsLines(), nullptr);
	without.SetPathLineForEncompasingObject();
	EXPECT_EQ(without.GetPathsLines(), nullptr);

	// After a value that is not an object nothing stands under "}" until the caller asks for it.
	VJSONImporter list(VString("[1,\n22]"), VJSONImporter::kPathsAndLines);
	ASSERT_EQ(list.Parse(value), VE_OK);
	EXPECT_EQ(Describe(VJSONValue(list.GetPathsLines())), "{[0]:{line:1,offset:1},[1]:{line:2,offset:0}}");
	list.SetPathLineForEncompasingObject();
	EXPECT_EQ(Describe(VJSONValue(list.GetPathsLines())),
		"{[0]:{line:1,offset:1},[1]:{line:2,offset:0},}:{line:2,offset:2}}");
}

TEST(VJSONImporter, SharedContainersUseOneLocker)
{
	VJSONValue value;
	{
		VJSONImporter importer(VString("{\"a\":[{\"b\":1}],\"c\":{}}"), VJSONImporter::kShared);
		ASSERT_EQ(importer.Parse(value), VE_OK);
	}
	VRefPtr<VStorageLocker> locker = value.GetObject()->GetStorageLocker();
	ASSERT_TRUE(locker);
	VJSONValue array = value.GetProperty(VString("a"));
	EXPECT_EQ(array.GetArray()->GetStorageLocker(), locker);
	EXPECT_EQ(array.GetArray()->GetAt(0).GetObject()->GetStorageLocker(), locker);
	EXPECT_EQ(value.GetProperty(VString("c")).GetObject()->GetStorageLocker(), locker);
	// The importer gave its use back: the tree is free for any task.
	EXPECT_EQ(locker->GetUseCount(), 0);
}

// A shortage of memory at any allocation fails the parse for memory, never as malformed text, and leaks nothing.
TEST(VJSONImporter, ShortMemoryFailsCleanly)
{
	const VString text("{\"a\":[1,\"two\",{\"b\":null}],\n\"c\":true}");
	std::string expected;
	{
		VJSONValue value;
		ASSERT_EQ(VJSONImporter::ParseString(text, value, VJSONImporter::kPathsAndLines), VE_OK);
		expected = Describe(value);
	}
	const long runs = test::ForEachAllocationFailure([&](long allowed) {
		StErrorContextInstaller scope(false, false);
		VJSONValue value;
		VError error = VE_OK;
		{
			test::StFailingAllocations failing(allowed);
			EXPECT_NO_THROW(error = VJSONImporter::ParseString(text, value, VJSONImporter::kPathsAndLines)) << allowed;
		}
		if (error == VE_OK)
		{
			EXPECT_EQ(Describe(value), expected) << allowed;
		}
		else
		{
			EXPECT_TRUE(error == VE_MEMORY_FULL || error == VE_STRING_ALLOC_FAILED) << allowed << " " << Errors(scope);
		}
	});
	EXPECT_GT(runs, 1);
}

// Conformance files shared by the team, when present: every file parses in both modes without crash or
// leak, and the files meant to be accepted parse in strict mode.
TEST(VJSONImporter, ConformanceFiles)
{
	const std::filesystem::path folder = VELK_TEST_DATA_DIR "/json";
	std::error_code ignored;
	if (!std::filesystem::is_directory(folder, ignored))
		GTEST_SKIP() << "no conformance files";
	int files = 0;
	for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored))
	{
		if (!entry.is_regular_file() || entry.path().extension() != ".json")
			continue;
		++files;
		const std::string name = entry.path().filename().string();
		SCOPED_TRACE(entry.path().string());
		VRefPtr<VFile> file(new VFile(VString(entry.path().c_str()), FPS_POSIX), true);
		for (const uint32 options : {0u, VJSONImporter::kStrict})
		{
			StErrorContextInstaller scope(false, false);
			VJSONValue value;
			const VError error = VJSONImporter::ParseFile(file.Get(), value, options);
			if (name.rfind("y_", 0) == 0 || name.rfind("pass", 0) == 0 || name.rfind("roundtrip", 0) == 0)
			{
				EXPECT_EQ(error, VE_OK);
			}
		}
	}
	EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace velk
