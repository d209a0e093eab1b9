// The bag's JSON forms: the exact text of bags compact and pretty, lists of one bag as objects, markers and
// scalar array items, JSON text and values read back, and the shared workloads through a bag and text twice.
#include "containers/VValueBag.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "containers/VBagTestHelpers.h"
#include "containers/VBagArray.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VTime.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

using test::Text;
using test::StBag;
using test::AddChild;

TEST(VValueBagJSONTest, BagsAreWrittenAsTheirExactText)
{
	struct Row
	{
		const char* fName;
		std::function<void(VValueBag&)> fFill;
		uint32 fOptions;
		std::u16string fExpected;
	};
	const Row rows[] = {
		{"empty", [](VValueBag&) {}, 0, u"{}"},
		{"two children", [](VValueBag& b) { b.SetLong8("n", 5); AddChild(b, "c"); AddChild(b, "c"); }, 0, u"{\"n\":5,\"c\":[{},{}]}"},
		{"object marker", [](VValueBag& b) { b.SetLong8("n", 5); AddChild(b, "c")->SetBool("____objectunic", true); }, 0, u"{\"n\":5,\"c\":{}}"},
		{"one unmarked child", [](VValueBag& b) { AddChild(b, "c")->SetLong8("x", 1); }, 0, u"{\"c\":[{\"x\":1}]}"},
		{"option 32", [](VValueBag& b) { AddChild(b, "c")->SetLong8("x", 1); AddChild(b, "d"); AddChild(b, "d"); }, 32, u"{\"c\":{\"x\":1},\"d\":[{},{}]}"},
		{"skipped marker first", [](VValueBag& b) { b.SetBool("____objectunic", true); b.SetBool("____property_name_in_jsarray", true); b.SetLong8("x", 1); }, 0, u"{\"x\":1}"},
		{"scalar items", [](VValueBag& b) {
			 AddChild(b, "a")->SetLong8("____FakeArrayElement", 1);
			 AddChild(b, "a")->SetString("____FakeArrayElement", VString("x"));
		 }, 0, u"{\"a\":[1,\"x\"]}"},
		{"scalar item under option 32", [](VValueBag& b) { AddChild(b, "a")->SetBool("____FakeArrayElement", false); }, 32, u"{\"a\":false}"},
		{"character data", [](VValueBag& b) { b.SetString(VValueBag::CDataAttributeName(), VString("t")); }, 0, u"{\"__CDATA\":\"t\"}"},
		{"values", [](VValueBag& b) {
			 b.SetString("s", VString("q\"\\\t\x01/é"));
			 b.SetBool("t", true);
			 b.SetReal("r", 2.5);
			 b.SetReal("w", 3.0);
			 b.SetLong8("big", -9007199254740993LL);
			 b.SetString("é", VString("k"));
		 }, 0, u"{\"s\":\"q\\\"\\\\\\t\\u0001/é\",\"t\":true,\"r\":2.5,\"w\":3,\"big\":-9007199254740993,\"é\":\"k\"}"},
		{"time", [](VValueBag& b) {
			 VTime time;
			 time.FromUTCTime(2024, 3, 5, 0, 0, 0, 0);
			 b.SetTime("day", time);
			 time.FromUTCTime(2024, 3, 5, 13, 4, 5, 6);
			 b.SetTime("at", time);
		 }, 0, u"{\"day\":\"2024-03-05\",\"at\":\"2024-03-05T13:04:05.006Z\"}"},
		{"pretty", [](VValueBag& b) { b.SetLong8("n", 5); AddChild(b, "c"); AddChild(b, "c"); }, 8,
			u"\n{\n\t\"n\" : 5,\n\t\"c\" : \n\t[\n\t\t{\n\t\t},\n\t\t{\n\t\t}\n\t]\n}"},
		{"pretty object", [](VValueBag& b) { AddChild(b, "c")->SetLong8("x", 1); }, 8 | 32, u"\n{\n\t\"c\" : \n\t{\n\t\t\"x\" : 1\n\t}\n}"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		StBag bag;
		row.fFill(*bag);
		VString json("left over");
		EXPECT_EQ(bag->GetJSONString(json, row.fOptions), VE_OK);
		EXPECT_EQ(Text(json), row.fExpected);
	}
}

TEST(VValueBagJSONTest, JSONTextAndValuesAreReadIntoTheBag)
{
	struct Row
	{
		const char* fName;
		const char* fText;
		uint32 fOptions;
		// The bag's compact text afterwards.
		std::u16string fExpected;
		bool fDate;
	};
	const Row rows[] = {
		{"properties, objects and arrays", "{\"a\":[1,\"x\",{\"y\":true}],\"b\":{\"c\":2.5},\"__CDATA\":\"t\",\"e\":[]}", 0,
			u"{\"__CDATA\":\"t\",\"a\":[1,\"x\",{\"y\":true}],\"b\":{\"c\":2.5}}", false},
		{"ISO date without the option", "{\"d\":\"2024-03-05T13:04:05Z\"}", 0, u"{\"d\":\"2024-03-05T13:04:05Z\"}", true},
		{"non-ambiguous dates", "{\"d\":\"2024-03-05T13:04:05Z\"}", VValueBag::kJSON_NON_AMBIGUOUS_DATES, u"{\"d\":\"2024-03-05T13:04:05Z\"}", true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		StBag bag;
		ASSERT_EQ(bag->FromJSONString(VString(row.fText), row.fOptions), VE_OK);
		VString json;
		bag->GetJSONString(json, 0);
		EXPECT_EQ(Text(json), row.fExpected);
		VTime time;
		EXPECT_EQ(bag->GetTime("d", time) && !time.IsNull(), row.fDate);
	}

	// A JSON object goes into a bag and comes back as an equal object.
	VJSONValue source;
	ASSERT_EQ(source.ParseFromString(VString("{\"name\":\"x\",\"list\":[1,2],\"sub\":{\"k\":false}}")), VE_OK);
	StBag bag;
	ASSERT_EQ(bag->FromJSONValue(source), VE_OK);
	VJSONValue back;
	ASSERT_EQ(bag->GetJSONValue(back), VE_OK);
	VString a;
	VString b;
	source.Stringify(a);
	back.Stringify(b);
	EXPECT_EQ(Text(b), Text(a));

	// A value that is not an object leaves the bag as it was and says why.
	StErrorContextInstaller scope(false, true);
	EXPECT_EQ(bag->FromJSONValue(VJSONValue(VString("text"))), VE_JSON_MALFORMED);
	EXPECT_EQ(bag->GetAttributesCount(), 1);
	VError error = VE_OK;
	StBag empty;
	VJSONObject* object = empty->BuildJSONObject(error);
	ASSERT_NE(object, nullptr);
	EXPECT_EQ(error, VE_OK);
	object->Release();
}

std::string ReadWorkload(const char* name)
{
	std::ifstream file(std::string(VELK_TEST_DATA_DIR) + "/../bench-data/json/" + name + ".json", std::ios::binary);
	if (!file)
		return {};
	return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(VValueBagJSONTest, WorkloadsGoThroughABagAndTextTwice)
{
	int read = 0;
	for (const char* name : {"twitter", "citm_catalog"})
	{
		SCOPED_TRACE(name);
		const std::string bytes = ReadWorkload(name);
		if (bytes.empty())
			continue;
		++read;
		VString source;
		source.FromBlock(bytes.data(), bytes.size(), 7);
		// The first pass puts attributes before elements and drops empty arrays; from then on the text holds.
		VString texts[2];
		for (VString& text : texts)
		{
			StBag bag;
			ASSERT_EQ(bag->FromJSONString(&text == texts ? source : texts[0]), VE_OK);
			ASSERT_EQ(bag->GetJSONString(text), VE_OK);
		}
		// Nothing at the top is lost on the way.
		VJSONValue before;
		VJSONValue after;
		ASSERT_EQ(before.ParseFromString(source), VE_OK);
		ASSERT_EQ(after.ParseFromString(texts[0]), VE_OK);
		ASSERT_NE(after.GetObject(), nullptr);
		EXPECT_EQ(after.GetObject()->GetPropertyCount(), before.GetObject()->GetPropertyCount());
		EXPECT_TRUE(Text(texts[1]) == Text(texts[0]));
	}
	if (read == 0)
		GTEST_SKIP() << "the shared JSON workloads are absent";
}

}  // namespace
}  // namespace velk
