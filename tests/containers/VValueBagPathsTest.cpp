// Paths through bags: splitting texts into keys, following first bags, creating and replacing where a
// path leads, and paths that name nothing (missing names, empty lists, empty and over-long pieces).
#include "containers/VValueBag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "containers/VBagArray.h"
#include "kernel/strings/VString.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

std::vector<std::string> Pieces(const VValueBag::KeyPath& keys)
{
	std::vector<std::string> pieces;
	for (const StPackedDictionaryKey& key : keys)
		pieces.emplace_back(key.GetKey(), key.GetKeyLength());
	return pieces;
}

int64 Id(const VValueBag* bag)
{
	int64 id = -1;
	if (bag != nullptr)
		bag->GetLong8("id", id);
	return id;
}

VValueBag* AddOwned(VValueBag& parent, const char* name, int64 id)
{
	VValueBag* bag = new VValueBag();
	bag->SetLong8("id", id);
	parent.AddElement(name, bag);
	bag->Release();
	return bag;
}

const std::string kLONG_PIECE(256, 'x');

TEST(VValueBagPathsTest, TextsSplitIntoKeys)
{
	struct Row
	{
		std::string fPath;
		std::vector<std::string> fKeys;
	};
	const Row rows[] = {
		{"", {}},
		{"a", {"a"}},
		{"a/b/c", {"a", "b", "c"}},
		{"a/", {"a"}},
		{"a//b", {"a", "", "b"}},
		{"/a", {"", "a"}},
		{"a/" + kLONG_PIECE + "/b", {"a", "", "b"}},
		{"caf\xC3\xA9/x", {"caf\xC3\xA9", "x"}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fPath.size() > 40 ? "long piece" : row.fPath);
		VValueBag::KeyPath keys = {StPackedDictionaryKey("stale")};
		VString path;
		path.FromBlock(row.fPath.data(), row.fPath.size(), 7);
		VValueBag::GetKeysFromPath(path, keys);
		EXPECT_EQ(Pieces(keys), row.fKeys);
		VValueBag::GetKeysFromUTF8PathNoCopy(row.fPath.c_str(), keys);
		EXPECT_EQ(Pieces(keys), row.fKeys);
		if (!keys.empty() && !keys[0].IsEmpty())
		{
			EXPECT_EQ(keys[0].GetKey(), row.fPath.c_str()) << "the text is not copied";
		}
	}
}

TEST(VValueBagPathsTest, FollowingCreatingAndReplacing)
{
	VValueBag* root = new VValueBag();
	VValueBag* a = AddOwned(*root, "a", 1);
	AddOwned(*root, "a", 2);
	VValueBag* b = AddOwned(*a, "b", 3);
	VBagArray* empty = new VBagArray();
	a->SetElements("empty", empty);
	empty->Release();
	VValueBag* longNamed = AddOwned(*a, "x", 4);

	struct Lookup
	{
		std::string fPath;
		const VValueBag* fFound;
	};
	const Lookup lookups[] = {
		{"", root}, {"a", a}, {"a/b", b}, {"a/b/", b}, {"a/missing", nullptr}, {"a/empty", nullptr},
		{"a//b", nullptr}, {"a/" + kLONG_PIECE, nullptr}, {"missing/b", nullptr},
	};
	for (const Lookup& lookup : lookups)
	{
		SCOPED_TRACE(lookup.fPath.size() > 40 ? "long piece" : lookup.fPath);
		EXPECT_EQ(root->GetUniqueElementByPath(VString(lookup.fPath.c_str())), lookup.fFound);
	}

	// Creation: bags are made where names are missing or lists empty; a path with a piece that names
	// nothing is refused before anything is made.
	VValueBag::KeyPath keys;
	VValueBag::GetKeysFromPath(VString("a/empty/deep"), keys);
	VValueBag* deep = root->GetElementByPathAndCreateIfDontExists(keys);
	ASSERT_NE(deep, nullptr);
	EXPECT_EQ(root->GetUniqueElementByPath(VString("a/empty/deep")), deep);
	EXPECT_EQ(a->GetElements("empty")->GetCount(), 1);
	EXPECT_EQ(root->GetElementByPathAndCreateIfDontExists(keys), deep) << "found the second time";
	for (const std::string& refused : {std::string("made//c"), "made/" + kLONG_PIECE + "/c"})
	{
		VValueBag::GetKeysFromPath(VString(refused.c_str()), keys);
		EXPECT_EQ(root->GetElementByPathAndCreateIfDontExists(keys), nullptr);
		VValueBag* bag = new VValueBag();
		EXPECT_FALSE(root->ReplaceElementByPath(keys, bag));
		EXPECT_EQ(bag->GetRefCount(), 1);
		bag->Release();
		EXPECT_EQ(root->GetElements("made"), nullptr) << "nothing made on the way";
	}

	// Replacing at the depth the path names, never at another.
	VValueBag* replacement = new VValueBag();
	replacement->SetLong8("id", 9);
	VValueBag::GetKeysFromPath(VString("a/x"), keys);
	EXPECT_TRUE(root->ReplaceElementByPath(keys, replacement));
	EXPECT_EQ(Id(root->GetUniqueElementByPath(VString("a/x"))), 9);
	EXPECT_EQ(a->GetElements("x")->GetCount(), 1);
	EXPECT_EQ(a->GetElements("x")->Find(longNamed), 0);
	VValueBag::GetKeysFromPath(VString("new/sub/leaf"), keys);
	EXPECT_TRUE(root->ReplaceElementByPath(keys, replacement));
	EXPECT_EQ(root->GetUniqueElementByPath(VString("new/sub/leaf")), replacement);
	VValueBag::GetKeysFromPath(VString("top"), keys);
	EXPECT_TRUE(root->ReplaceElementByPath(keys, replacement));
	EXPECT_EQ(root->GetUniqueElementByPath(VString("top")), replacement);
	EXPECT_FALSE(root->ReplaceElementByPath(VValueBag::KeyPath(), replacement));

	// A null bag removes the last name where the path leads, creating nothing.
	VValueBag::GetKeysFromPath(VString("a/b"), keys);
	EXPECT_TRUE(root->ReplaceElementByPath(keys, nullptr));
	EXPECT_EQ(a->GetElements("b"), nullptr);
	VValueBag::GetKeysFromPath(VString("nowhere/b"), keys);
	EXPECT_TRUE(root->ReplaceElementByPath(keys, nullptr));
	EXPECT_EQ(root->GetElements("nowhere"), nullptr);
	VValueBag::GetKeysFromPath(VString(("a/" + kLONG_PIECE).c_str()), keys);
	EXPECT_TRUE(root->ReplaceElementByPath(keys, nullptr));
	EXPECT_NE(a->GetElements("x"), nullptr);

	root->Release();
	EXPECT_EQ(replacement->GetRefCount(), 1);
	replacement->Release();
}

}  // namespace
}  // namespace velk
