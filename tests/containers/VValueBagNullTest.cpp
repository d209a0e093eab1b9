// Nulls in bags: a JSON null read into a bag comes back as null through the bag's JSON text (and its
// copies and merges) and is left out of its XML text, while the binary form, which has no null, writes the
// bytes of an empty string and reads that back; nulls set and replaced in code stay nulls until a value
// replaces them.
#include "containers/VValueBag.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "containers/VBagTestHelpers.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"

namespace velk {
namespace {

using test::StBag;
using test::Text;

std::u16string JSONOf(const VValueBag& bag)
{
	VString json;
	EXPECT_EQ(bag.GetJSONString(json), VE_OK);
	return Text(json);
}

std::u16string XMLOf(const VValueBag& bag)
{
	VString xml;
	bag.DumpXML(xml, VString("bag"), false);
	return Text(xml);
}

struct NullRow
{
	const char* fName;
	const char* fJSON;
	// The bag's own JSON text: the input itself, but for the order of attributes before elements.
	std::u16string fBack;
	std::u16string fXML;
	// The bag's JSON text once through the binary form, where each null became an empty string.
	std::u16string fThroughBinary;
};

const NullRow kNullRows[] = {
	{"attribute", "{\"s\":null}", u"{\"s\":null}", u"<bag/>", u"{\"s\":\"\"}"},
	{"beside an empty string", "{\"e\":\"\",\"s\":null,\"n\":0}", u"{\"e\":\"\",\"s\":null,\"n\":0}", u"<bag e=\"\" n=\"0\"/>", u"{\"e\":\"\",\"s\":\"\",\"n\":0}"},
	{"list elements", "{\"a\":[null,1,null]}", u"{\"a\":[null,1,null]}", u"<bag>\n<a/>\n<a ____FakeArrayElement=\"1\"/>\n<a/></bag>", u"{\"a\":[\"\",1,\"\"]}"},
	{"nested object", "{\"o\":{\"s\":null,\"t\":\"x\"}}", u"{\"o\":{\"s\":null,\"t\":\"x\"}}", u"<bag>\n<o t=\"x\"/></bag>", u"{\"o\":{\"s\":\"\",\"t\":\"x\"}}"},
	{"objects in a list", "{\"a\":[{\"n\":null},{\"b\":[null]}]}", u"{\"a\":[{\"n\":null},{\"b\":[null]}]}", u"<bag>\n<a/>\n<a>\n<b/></a></bag>",
		u"{\"a\":[{\"n\":\"\"},{\"b\":[\"\"]}]}"},
	{"character data", "{\"__CDATA\":null,\"k\":1}", u"{\"__CDATA\":null,\"k\":1}", u"<bag k=\"1\"/>", u"{\"__CDATA\":\"\",\"k\":1}"},
	{"character data of a child", "{\"c\":{\"__CDATA\":null}}", u"{\"c\":{\"__CDATA\":null}}", u"<bag>\n<c/></bag>", u"{\"c\":{\"__CDATA\":\"\"}}"},
};

TEST(VValueBagNullTest, JSONNullsComeBackThroughEveryForm)
{
	for (const NullRow& row : kNullRows)
	{
		SCOPED_TRACE(row.fName);
		StBag bag;
		ASSERT_EQ(bag->FromJSONString(VString(row.fJSON)), VE_OK);
		EXPECT_EQ(JSONOf(*bag), row.fBack);
		EXPECT_EQ(XMLOf(*bag), row.fXML);

		// A copy, and the merges that copy attributes one by one, keep the nulls.
		VValueBag* copy = static_cast<VValueBag*>(bag->Clone());
		ASSERT_NE(copy, nullptr);
		EXPECT_EQ(JSONOf(*copy), row.fBack);
		copy->Release();
		StBag united;
		ASSERT_TRUE(united->UnionClone(bag.fBag));
		EXPECT_EQ(JSONOf(*united), row.fBack);
		StBag overridden;
		ASSERT_TRUE(overridden->Override(bag.fBag));
		EXPECT_EQ(JSONOf(*overridden), row.fBack);

		// The binary form is the one of the same bag with empty strings for its nulls, byte for byte.
		const std::u16string emptied(row.fThroughBinary);
		StBag withEmptyStrings;
		ASSERT_EQ(withEmptyStrings->FromJSONString(VString(emptied.data(), int32(emptied.size()))), VE_OK);
		for (bool swap : {false, true})
		{
			const test::Bytes bytes = test::Written(*bag, swap);
			EXPECT_EQ(bytes, test::Written(*withEmptyStrings, swap));
			StBag again;
			ASSERT_EQ(test::Read(*again, bytes, swap), VE_OK);
			EXPECT_EQ(JSONOf(*again), row.fThroughBinary);
		}
		// Writing changed nothing in memory.
		EXPECT_EQ(JSONOf(*bag), row.fBack);
	}
}

TEST(VValueBagNullTest, NullsStayUntilAValueReplacesThem)
{
	VLong8 nullLong8;
	nullLong8.SetNull(true);
	VLong nullLong;
	nullLong.SetNull(true);
	struct Row
	{
		const char* fName;
		std::function<void(VValueBag&)> fSet;
		bool fNull;
		std::u16string fJSON;
	};
	const Row rows[] = {
		{"null string appended", [](VValueBag& b) { b.SetString("k", VString(true)); }, true, u"{\"k\":null}"},
		{"string replaced by a null", [](VValueBag& b) { b.SetString("k", VString("ab")); b.SetString("k", VString(true)); }, true, u"{\"k\":null}"},
		{"empty string replaced by a null of the same size", [](VValueBag& b) { b.SetString("k", VString()); b.SetString("k", VString(true)); }, true, u"{\"k\":null}"},
		{"null replaced by a string", [](VValueBag& b) { b.SetString("k", VString(true)); b.SetString("k", VString("x")); }, false, u"{\"k\":\"x\"}"},
		{"null replaced by an empty string", [](VValueBag& b) { b.SetString("k", VString(true)); b.SetString("k", VString()); }, false, u"{\"k\":\"\"}"},
		{"number replaced by a null number", [&](VValueBag& b) { b.SetLong8("k", 5); b.SetAttribute("k", nullLong8); }, true, u"{\"k\":null}"},
		{"null number replaced by a number", [&](VValueBag& b) { b.SetAttribute("k", nullLong8); b.SetLong8("k", 7); }, false, u"{\"k\":7}"},
		{"null of another kind", [&](VValueBag& b) { b.SetString("k", VString("x")); b.SetAttribute("k", nullLong); }, true, u"{\"k\":null}"},
		{"null among attributes after removals", [](VValueBag& b) {
			 b.SetLong8("a", 1);
			 b.SetString("k", VString(true));
			 b.SetLong8("z", 2);
			 b.RemoveAttribute("a");
		 }, true, u"{\"k\":null,\"z\":2}"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		StBag bag;
		row.fSet(*bag);
		const VValueSingle* value = bag->GetAttribute("k");
		ASSERT_NE(value, nullptr);
		EXPECT_EQ(value->IsNull(), row.fNull);
		VString text("before");
		ASSERT_TRUE(bag->GetString("k", text));
		EXPECT_EQ(text.IsNull(), row.fNull);
		EXPECT_EQ(JSONOf(*bag), row.fJSON);
		// Writing the record packs the store; the null is still there afterwards.
		test::Written(*bag, false);
		EXPECT_EQ(bag->GetAttribute("k")->IsNull(), row.fNull);
		EXPECT_EQ(JSONOf(*bag), row.fJSON);
	}
}

}  // namespace
}  // namespace velk
