// XLIFF files into the manager's tables: which text a unit gives, the platform test, composite keys, STR#
// lists, group tables and group bags, and when a file's target language lets it in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "documents/localization/VLocalizationTestSupport.h"

namespace velk {
namespace {

using test::Unit;
using test::Xliff;

class VLocalizationXMLHandlerTest : public test::VLocalizationTest
{
};

TEST_F(VLocalizationXMLHandlerTest, UnitsGiveTheirTextUnderTheirKey)
{
	struct Row
	{
		const char* what;
		const char* language;
		bool forced;
		std::string body;
		const char* key;
		const char* expected;
	};
	const std::vector<Row> rows = {
		{"target wins over source", "fr-ca", false,
			"<trans-unit resname=\"k\"><source>S</source><target>T</target></trans-unit>", "k", "T"},
		{"empty target gives the source", "fr-ca", false,
			"<trans-unit resname=\"k\"><source>S</source><target/></trans-unit>", "k", "S"},
		{"neither gives nothing", "fr-ca", false, "<trans-unit resname=\"k\"></trans-unit>", "k", "<none>"},
		{"includeIf win linux is skipped", "fr-ca", false, Unit("k", "S", " yr:includeIf=\"win linux\""), "k", "<none>"},
		{"includeIf mac win is loaded", "fr-ca", false, Unit("k", "S", " yr:includeIf=\"mac  win\""), "k", "S"},
		{"excludeIf mac is skipped", "fr-ca", false, Unit("k", "S", " yr:excludeIf=\"MAC\""), "k", "<none>"},
		{"includeIf ios is loaded", "fr-ca", false, Unit("k", "S", " yr:includeIf=\"ios\""), "k", "S"},
		{"two conditions combine by or", "fr-ca", false,
			Unit("k", "S", " yr:includeIf=\"mac\" yr:excludeIf=\"mac\""), "k", "<none>"},
		{"composite key of a bracketed outer group", "fr-ca", false,
			"<group resname=\"[menus]\"><group resname=\"file\">" + Unit("open", "Open") + "</group></group>",
			"[menus]#}[{@file#}[{@open", "Open"},
		{"composite unit is not under its own name", "fr-ca", false,
			"<group resname=\"[menus]\"><group resname=\"file\">" + Unit("open", "Open") + "</group></group>", "open", "<none>"},
		{"plain groups keep the own name", "fr-ca", false,
			"<group resname=\"menus\"><group resname=\"file\">" + Unit("open", "Open") + "</group></group>", "open", "Open"},
		{"other language not forced adds nothing", "de", false, Unit("k", "S"), "k", "<none>"},
		{"other language forced is loaded", "de", true, Unit("k", "S"), "k", "S"},
		{"forced file still applies the platform test", "de", true, Unit("k", "S", " yr:includeIf=\"win\""), "k", "<none>"},
		{"partial language is accepted", "fr", false, Unit("k", "S"), "k", "S"},
		{"first unit wins when not overriding", "fr", false, Unit("k", "first") + Unit("k", "second"), "k", "first"},
		{"last unit wins when overriding", "fr-CA", false, Unit("k", "first") + Unit("k", "second"), "k", "second"},
		// An inline element inside the source does not end the unit before its target is read.
		{"inline element in the source", "fr", false,
			"<trans-unit resname=\"k\"><source>A<x id=\"1\"/>B</source><target>T</target></trans-unit>", "k", "T"},
		{"alt-trans never reaches the tables", "fr-ca", false,
			"<trans-unit resname=\"k\"><source>S</source><alt-trans><target>Alt</target></alt-trans></trans-unit>", "k", "S"},
		{"refused group is read without effect", "de", false,
			"<group resname=\"g\">" + Unit("k", "S") + "</group>", "k", "<none>"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.what);
		fManager = VRefPtr<VLocalizationManager>(new VLocalizationManager(test::kCanadianFrench), true);
		VRefPtr<VFile> file = WriteFile("unit.xlf", Xliff(row.language, row.body));
		EXPECT_EQ(fManager->LoadFile(file.Get(), row.forced), VE_OK);
		EXPECT_EQ(Lookup(row.key), row.expected);
	}
}

TEST_F(VLocalizationXMLHandlerTest, GroupsFormListsTablesAndBags)
{
	const std::string body =
		"<group id=\"128\" resname=\"list\">"
		"<trans-unit id=\"1\"><source>one</source></trans-unit>"
		"<trans-unit id=\"2\"><source>two</source></trans-unit>"
		"<trans-unit id=\"4\"><source>four</source></trans-unit>"
		"<trans-unit id=\"0\" resname=\"zero\"><source>zero</source></trans-unit>"
		"<trans-unit resname=\"noid\"><source>noid</source></trans-unit>"
		"</group>"
		"<group resname=\"menus\"><group resname=\"file\">"
		"<trans-unit id=\"7\" resname=\"open\"><source>Open</source></trans-unit>"
		"<trans-unit id=\"3\" resname=\"close\"><source>Close</source></trans-unit>"
		"</group></group>"
		"<group resname=\"[tips]\"><group resname=\"edit\">" + Unit("cut", "Cut") + "</group></group>"
		"<group resname=\"Dialog\" restype=\"x-dialog\" extra=\"e\">"
		"<trans-unit id=\"1\" resname=\"ok\"><source>OK</source><alt-trans><target>Fine</target></alt-trans></trans-unit>"
		"</group>"
		"<group restype=\"x-dialog\">" + Unit("anon", "A") + "</group>";
	EXPECT_EQ(fManager->LoadFile(WriteFile("groups.xlf", Xliff("fr-ca", body)).Get(), false), VE_OK);

	std::vector<VString> texts;
	ASSERT_TRUE(fManager->LocalizeGroupOfStringsWithAStrSharpID(128, texts));
	ASSERT_EQ(texts.size(), 2u);
	EXPECT_EQ(ToUTF8(texts[0]), "one");
	EXPECT_EQ(ToUTF8(texts[1]), "two");
	VString text;
	EXPECT_TRUE(fManager->LocalizeStringWithSTRSharpCodes(STRSharpCodes{128, 4}, text));
	EXPECT_FALSE(fManager->LocalizeStringWithSTRSharpCodes(STRSharpCodes{128, 0}, text));
	EXPECT_FALSE(fManager->LocalizeGroupOfStringsWithAStrSharpID(129, texts));
	EXPECT_TRUE(texts.empty());

	// Units of plain nested groups are in the table of each group, by ascending unit id.
	for (const char* group : {"file", "menus"})
	{
		SCOPED_TRACE(group);
		ASSERT_TRUE(fManager->GetOrderedStringsOfGroup(VString(group), texts));
		ASSERT_EQ(texts.size(), 2u);
		EXPECT_EQ(ToUTF8(texts[0]), "Close");
		EXPECT_EQ(ToUTF8(texts[1]), "Open");
	}
	EXPECT_FALSE(fManager->GetOrderedStringsOfGroup(VString("edit"), texts));
	EXPECT_FALSE(fManager->GetOrderedStringsOfGroup(VString("[tips]"), texts));
	EXPECT_EQ(Lookup("[tips]#}[{@edit#}[{@cut"), "Cut");

	// A named group of a resource type keeps a bag of its attributes and units, found without case.
	VRefPtr<const VValueBag> bag(fManager->RetainGroupBag(VString("DIALOG")), true);
	ASSERT_NE(bag.Get(), nullptr);
	VString value;
	EXPECT_TRUE(bag->GetString("extra", value));
	EXPECT_EQ(ToUTF8(value), "e");
	EXPECT_TRUE(bag->GetString("resname", value));
	EXPECT_EQ(ToUTF8(value), "Dialog");
	VBagArray* units = bag->GetElements("trans-unit");
	ASSERT_NE(units, nullptr);
	ASSERT_EQ(units->GetCount(), 1);
	EXPECT_TRUE(units->_GetNth(1)->GetString("target", value));
	EXPECT_EQ(ToUTF8(value), "OK");
	VBagArray* alternatives = units->_GetNth(1)->GetElements("alt-trans");
	ASSERT_NE(alternatives, nullptr);
	EXPECT_TRUE(alternatives->_GetNth(1)->GetString("target", value));
	EXPECT_EQ(ToUTF8(value), "Fine");
	// Units of a group without a resource type stay out of its bag.
	VRefPtr<const VValueBag> list(fManager->RetainGroupBag(VString("list")), true);
	ASSERT_NE(list.Get(), nullptr);
	EXPECT_EQ(list->GetElements("trans-unit"), nullptr);

	// Only named groups file their bag.
	std::vector<VRefPtr<const VValueBag>> bags;
	fManager->RetainGroupBagsByRestype(VString("x-dialog"), bags);
	ASSERT_EQ(bags.size(), 1u);
	EXPECT_EQ(bags[0].Get(), bag.Get());
}

}  // namespace
}  // namespace velk
