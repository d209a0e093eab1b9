// The small JSON text helpers: arrays appended piece by piece (closing, reopening, nesting), element texts
// read back from array text, and flat objects whose member names are escaped.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONTextHelpers.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VValueSingle.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

constexpr VError kMalformed = MakeVError(kVELK_SIGNATURE, 550);

TEST(VJSONArrayWriter, BuildsClosesAndReopens)
{
	struct Row
	{
		const char* name;
		const char* start;  // the caller's text; null: the writer's own
		std::function<void(VJSONArrayWriter&, VString& out)> steps;
		const char* text;  // what GetArray gives at the end
	};
	const Row rows[] = {
		{"empty text", "", [](VJSONArrayWriter&, VString&) {}, "[]"},
		{"bracket only", "[", [](VJSONArrayWriter&, VString&) {}, "[]"},
		{"scalars", "[",
			[](VJSONArrayWriter& writer, VString&) {
				writer.AddLong(1);
				writer.AddBool(false);
				writer.AddString("a", 0);
			},
			"[1,false,\"a\"]"},
		{"adding after a kept copy continues the array", nullptr,
			[](VJSONArrayWriter& writer, VString& out) {
				writer.AddLong(1);
				writer.GetArray(out, true);
				EXPECT_EQ(to_string(out), "[1]");
				writer.AddLong(2);
				writer.Close();
				writer.AddLong(3);
			},
			"[1,2,3]"},
		{"an empty closed array reopens empty", nullptr,
			[](VJSONArrayWriter& writer, VString&) {
				writer.Close();
				writer.AddLong(7);
			},
			"[7]"},
		{"taking without keep starts again", nullptr,
			[](VJSONArrayWriter& writer, VString& out) {
				writer.AddLong(1);
				writer.GetArray(out, false);
				EXPECT_EQ(to_string(out), "[1]");
				writer.AddLong(2);
			},
			"[2]"},
		{"closing keeps a last unit that is not a comma", "[1", [](VJSONArrayWriter&, VString&) {}, "[1]"},
		{"strings are escaped", nullptr,
			[](VJSONArrayWriter& writer, VString&) {
				writer.AddString(VString("a\"b\\"), 0);
				writer.AddString(static_cast<const char*>(nullptr), 0);
			},
			"[\"a\\\"b\\\\\"]"},
		{"reals in their XML form", nullptr,
			[](VJSONArrayWriter& writer, VString&) {
				writer.AddReal(0.5);
				writer.AddReal(NAN);
				writer.AddReal(-INFINITY);
			},
			"[0.5,NaN,-INF]"},
		{"runs of members", nullptr,
			[](VJSONArrayWriter& writer, VString&) {
				const int32 longs[] = {1, -2};
				const int16 words[] = {300};
				const char bools[] = {0, 5};
				const double reals[] = {1.25};
				writer.AddLongs(longs, 2);
				writer.AddLongs(nullptr, 2);
				writer.AddLongs(longs, 0);
				writer.AddWords(words, 1);
				writer.AddBools(bools, 2);
				writer.AddReals(reals, 1);
				writer.AddStrings({VString("x"), VString("y")}, 0);
			},
			"[1,-2,300,false,true,1.25,\"x\",\"y\"]"},
		{"values through their JSON text", nullptr,
			[](VJSONArrayWriter& writer, VString&) {
				writer.Add(VLong(12), 0);
				writer.Add(VBoolean(true), 0);
				writer.Add(VString("q"), VString::kJSON_WITH_QUOTES);
			},
			"[12,true,\"q\"]"},
		{"nested array", nullptr,
			[](VJSONArrayWriter& writer, VString&) {
				VJSONArrayWriter inner;
				inner.AddLong(1);
				inner.AddLong(2);
				writer.AddJSONArray(inner);
				writer.AddLong(3);
				VString rest;
				inner.GetArray(rest, true);
				EXPECT_EQ(to_string(rest), "[]");
			},
			"[[1,2],3]"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VString callerText(row.start != nullptr ? row.start : "");
		VJSONArrayWriter writer(row.start != nullptr ? &callerText : nullptr);
		VJSONArrayWriter own;
		VJSONArrayWriter& used = row.start != nullptr ? writer : own;
		VString out;
		row.steps(used, out);
		used.GetArray(out, true);
		EXPECT_EQ(to_string(out), row.text);
		EXPECT_TRUE(used.IsClosed());
		// What the writer builds is JSON the parser reads back.
		VJSONValue parsed;
		if (std::string(row.text).find("NaN") == std::string::npos)
		{
			EXPECT_EQ(VJSONImporter::ParseString(out, parsed, VJSONImporter::kStrict), VE_OK);
			EXPECT_TRUE(parsed.IsArray());
		}
	}
}

TEST(VJSONArrayReader, ReadsElementTexts)
{
	struct Row
	{
		const char* text;
		VError error;
		std::vector<std::string> elements;
	};
	const Row rows[] = {
		{"x [1, \"a\", [2, 3], true]", VE_OK, {"1", "a", "true"}},
		{"[]", VE_OK, {}},
		{"[\"a\\\"b\", [[1], [2]], -3.5]", VE_OK, {"a\"b", "-3.5"}},
		{"", kMalformed, {}},
		{"no bracket here", kMalformed, {}},
		{"[1, 2", kMalformed, {}},
		{"[1, [2, 3]", kMalformed, {}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.text);
		StErrorContextInstaller scope(false, true);
		VJSONArrayReader reader(VString(row.text));
		uint64 error = VE_UNKNOWN_ERROR;
		EXPECT_EQ(reader.GetCountOfElements(&error), int32(row.elements.size()));
		EXPECT_EQ(error, row.error);
		std::vector<VString> texts{VString("kept")};
		EXPECT_EQ(reader.ToArrayString(texts, false), row.error);
		if (row.error == VE_OK)
		{
			ASSERT_EQ(texts.size(), row.elements.size());
			for (size_t index = 0; index < texts.size(); ++index)
				EXPECT_EQ(to_string(texts[index]), row.elements[index]);
		}
		else
		{
			// A failed read hands nothing out and leaves the destination alone.
			ASSERT_EQ(texts.size(), 1u);
			int32 longs[1] = {99};
			EXPECT_EQ(reader.ToArrayLong(longs), row.error);
			EXPECT_EQ(longs[0], 99);
		}
	}
}

TEST(VJSONArrayReader, ConvertsElements)
{
	VJSONArrayReader reader;
	reader.FromJSONString(VString("[7, -2, 3.5, true, \"TRUE\", x]"));
	ASSERT_EQ(reader.GetCountOfElements(), 6);
	int16 shorts[6] = {};
	int32 longs[6] = {};
	double reals[6] = {};
	char bools[6] = {};
	EXPECT_EQ(reader.ToArrayShort(shorts), VE_OK);
	EXPECT_EQ(reader.ToArrayLong(longs), VE_OK);
	EXPECT_EQ(reader.ToArrayReal(reals), VE_OK);
	EXPECT_EQ(reader.ToArrayBool(bools), VE_OK);
	EXPECT_EQ(shorts[0], 7);
	EXPECT_EQ(shorts[1], -2);
	EXPECT_EQ(longs[1], -2);
	EXPECT_EQ(reals[2], 3.5);
	EXPECT_EQ(std::vector<char>(bools, bools + 6), (std::vector<char>{0, 0, 0, 1, 1, 0}));

	std::vector<VString> texts{VString("first")};
	EXPECT_EQ(reader.ToArrayString(texts, true), VE_OK);
	ASSERT_EQ(texts.size(), 7u);
	EXPECT_EQ(to_string(texts[0]), "first");
	EXPECT_EQ(to_string(texts[6]), "x");

	// Reading again forgets the former elements.
	reader.FromJSONString(VString("[1"));
	EXPECT_EQ(reader.GetCountOfElements(), 0);
	EXPECT_EQ(reader.GetError(), kMalformed);
}

// A value whose JSON text cannot be made.
class NoJSONText : public VValueSingle
{
public:
	VError GetJSONString(VString&, uint32) const override { return VE_UNIMPLEMENTED; }
	CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }
	VValue* Clone() const override { return new NoJSONText; }
};

TEST(VJSONSingleObjectWriter, MembersRoundTrip)
{
	struct Row
	{
		const char* name;
		std::function<bool(VJSONSingleObjectWriter&)> add;
		bool added;
	};
	const Row rows[] = {
		{"number", [](VJSONSingleObjectWriter& writer) { return writer.AddMember(VString("a"), VLong(1), 0); }, true},
		{"string", [](VJSONSingleObjectWriter& writer) {
			 return writer.AddMember(VString("b"), VString("x"), VString::kJSON_WITH_QUOTES);
		 },
			true},
		{"empty name", [](VJSONSingleObjectWriter& writer) { return writer.AddMember(VString(""), VLong(2), 0); },
			false},
		{"null name", [](VJSONSingleObjectWriter& writer) { return writer.AddMember(VString(true), VLong(2), 0); },
			false},
		{"value without a text", [](VJSONSingleObjectWriter& writer) {
			 StErrorContextInstaller scope(false, true);
			 return writer.AddMember(VString("t"), NoJSONText(), 0);
		 },
			false},
	};
	VJSONSingleObjectWriter writer;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		EXPECT_EQ(row.add(writer), row.added);
	}
	VString text;
	writer.GetObject(text);
	EXPECT_EQ(to_string(text), "{\"a\":1,\"b\":\"x\"}");
	writer.GetObject(text);
	EXPECT_EQ(to_string(text), "{\"a\":1,\"b\":\"x\"}");

	// Adding after GetObject opens it again; a name with a quote or backslash stays one name.
	EXPECT_TRUE(writer.AddMember(VString("q\"\\"), VBoolean(true), 0));
	writer.GetObject(text);
	EXPECT_EQ(to_string(text), "{\"a\":1,\"b\":\"x\",\"q\\\"\\\\\":true}");
	VJSONValue parsed;
	ASSERT_EQ(VJSONImporter::ParseString(text, parsed, VJSONImporter::kStrict), VE_OK);
	EXPECT_EQ(parsed.GetProperty(VString("a")).GetNumber(), 1.0);
	EXPECT_EQ(to_string(parsed.GetProperty(VString("b")).GetString()), "x");
	EXPECT_TRUE(parsed.GetProperty(VString("q\"\\")).GetBool());
}

}  // namespace
}  // namespace velk
