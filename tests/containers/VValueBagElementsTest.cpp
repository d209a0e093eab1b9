// Element lists of bags: replacing and removing names, lists shared or set to null, objects saving
// themselves, unique elements and the ordering of element names down a tree.
#include "containers/VValueBag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "containers/IBaggable.h"
#include "containers/VBagArray.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

std::string Utf8(const VString& text)
{
	char buffer[512];
	return std::string(buffer, text.ToBlock(buffer, sizeof(buffer), 7, false, false));
}

// The bag's element names in order, joined by ','.
std::string Names(const VValueBag& bag)
{
	std::string names;
	VString name;
	for (int32 n = 1; n <= bag.GetElementNamesCount(); ++n)
	{
		bag.GetNthElementName(n, &name);
		names += (n > 1 ? "," : "") + Utf8(name);
	}
	return names;
}

VValueBag* NewBagWithId(int64 id)
{
	VValueBag* bag = new VValueBag();
	bag->SetLong8("id", id);
	return bag;
}

// Adds a new bag under the name and drops the caller's reference: the parent holds the only one.
VValueBag* AddOwned(VValueBag& parent, const char* name, int64 id = 0)
{
	VValueBag* bag = NewBagWithId(id);
	parent.AddElement(name, bag);
	bag->Release();
	return bag;
}

TEST(VValueBagElementsTest, ReplacingAndRemovingNames)
{
	VValueBag* parent = new VValueBag();
	VValueBag* only = AddOwned(*parent, "item", 1);
	AddOwned(*parent, "item", 2);
	for (const char* name : {"a", "b", "c", "d", "e", "f"})
		AddOwned(*parent, name);

	// The replacement is held only by the list it replaces: it must survive the emptying of that list.
	EXPECT_TRUE(parent->ReplaceElement("item", only));
	ASSERT_EQ(parent->GetElements("item")->GetCount(), 1);
	EXPECT_EQ(parent->GetElements("item")->_GetNth(1), only);
	EXPECT_EQ(only->GetRefCount(), 1);
	int64 id = 0;
	EXPECT_TRUE(only->GetLong8("id", id));
	EXPECT_EQ(id, 1);

	EXPECT_FALSE(parent->ReplaceElement("item", only)) << "already the list's only bag";
	EXPECT_EQ(only->GetRefCount(), 1);
	VValueBag* fresh = NewBagWithId(3);
	EXPECT_TRUE(parent->ReplaceElement("new", fresh));
	EXPECT_EQ(fresh->GetRefCount(), 2);
	EXPECT_FALSE(parent->ReplaceElement("", fresh));
	EXPECT_EQ(Names(*parent), "item,a,b,c,d,e,f,new");

	// Removing a name: the ones after it are still found (through the index from 6 names on).
	EXPECT_TRUE(parent->RemoveElements("a"));
	EXPECT_FALSE(parent->RemoveElements("a"));
	EXPECT_FALSE(parent->ReplaceElement("b", nullptr));
	EXPECT_EQ(Names(*parent), "item,c,d,e,f,new");
	for (const char* name : {"item", "c", "d", "e", "f", "new"})
		EXPECT_NE(parent->GetElements(name), nullptr) << name;
	EXPECT_EQ(parent->GetElements("b"), nullptr);

	VString name("kept?");
	EXPECT_EQ(parent->GetNthElementName(0, &name), nullptr);
	EXPECT_EQ(Utf8(name), "");
	EXPECT_EQ(parent->GetNthElementName(7, nullptr), nullptr);
	EXPECT_EQ(parent->GetNthElementName(6, &name), parent->GetElements("new"));
	EXPECT_EQ(Utf8(name), "new");

	parent->Release();
	EXPECT_EQ(fresh->GetRefCount(), 1);
	fresh->Release();
}

TEST(VValueBagElementsTest, SharedAndNullListsToEveryWalker)
{
	VValueBag* first = new VValueBag();
	VValueBag* second = new VValueBag();
	VBagArray* shared = new VBagArray();
	VValueBag* child = NewBagWithId(7);
	shared->AddTail(child);
	child->Release();
	EXPECT_TRUE(first->SetElements("shared", shared));
	EXPECT_TRUE(second->SetElements("shared", shared));
	EXPECT_TRUE(first->SetElements("shared", shared));
	shared->Release();
	EXPECT_EQ(shared->GetRefCount(), 2);
	first->Release();
	EXPECT_EQ(child->GetRefCount(), 1) << "the second holder keeps the list and its bag";

	// A name whose list is null: no bags to anyone who walks the bag.
	EXPECT_TRUE(second->SetElements("none", nullptr));
	EXPECT_EQ(second->GetElementNamesCount(), 2);
	EXPECT_EQ(second->GetElements("none"), nullptr);
	VString name;
	EXPECT_EQ(second->GetNthElementName(2, &name), nullptr);
	EXPECT_EQ(Utf8(name), "none");
	VValueBag* copy = static_cast<VValueBag*>(second->Clone());
	ASSERT_NE(copy, nullptr);
	EXPECT_EQ(Names(*copy), "shared,none");
	EXPECT_TRUE(copy->UnionClone(second));
	EXPECT_TRUE(copy->Override(second));
	EXPECT_EQ(copy->GetElements("shared")->GetCount(), 3) << "one bag, then a copy for each merge";
	EXPECT_EQ(copy->GetUniqueElementByPath(VString("none")), nullptr);
	const StPackedDictionaryKey none("none");
	const StBagElementsOrdering orderings[] = {{&none, {&none}}, {nullptr, {}}};
	EXPECT_TRUE(copy->SortElements("none", orderings));
	VString dump;
	copy->DebugDump(dump);
	EXPECT_NE(Utf8(dump).find("0 none :"), std::string::npos) << Utf8(dump);
	copy->Release();

	// Adding under that name makes a list.
	VValueBag* added = NewBagWithId(8);
	EXPECT_TRUE(second->AddElement("none", added));
	ASSERT_NE(second->GetElements("none"), nullptr);
	EXPECT_EQ(second->GetElements("none")->_GetNth(1), added);
	added->Release();
	second->Release();
}

class Thing : public IBaggable
{
public:
	Thing(const char* kind, VError error) : fKind(kind), fError(error) {}
	VError SaveToBag(VValueBag& bag, VString& kind) const override
	{
		bag.SetLong8("saved", 1);
		kind = VString(fKind);
		return fError;
	}

private:
	const char* fKind;
	VError fError;
};

TEST(VValueBagElementsTest, ObjectsSaveThemselvesAsElements)
{
	const VError failure = MakeVError(kVELK_SIGNATURE, 42);
	struct Row
	{
		const IBaggable* fObject;
		VError fResult;
		int32 fThings;
	};
	const Thing thing("thing", VE_OK);
	const Thing failing("thing", failure);
	const Thing nameless("", VE_OK);
	const Row rows[] = {{&thing, VE_OK, 1}, {&thing, VE_OK, 2}, {&failing, failure, 2}, {nullptr, VE_OK, 2}, {&nameless, VE_INVALID_PARAMETER, 2}};
	VValueBag* bag = new VValueBag();
	for (const Row& row : rows)
	{
		StErrorContextInstaller errors(false, true);
		EXPECT_EQ(bag->AddElement(row.fObject), row.fResult);
		ASSERT_NE(bag->GetElements("thing"), nullptr);
		EXPECT_EQ(bag->GetElements("thing")->GetCount(), row.fThings);
	}
	EXPECT_EQ(bag->GetElementNamesCount(), 1);
	int64 saved = 0;
	EXPECT_TRUE(bag->GetElements("thing")->_GetNth(2)->GetLong8("saved", saved));
	EXPECT_EQ(saved, 1);
	bag->Release();
}

TEST(VValueBagElementsTest, UniqueElements)
{
	VValueBag* bag = new VValueBag();
	AddOwned(*bag, "row", 1);
	AddOwned(*bag, "row", 2);
	AddOwned(*bag, "row", 2);
	VValueBag* unnumbered = new VValueBag();
	bag->AddElement("row", unnumbered);

	struct Row
	{
		const char* fElement;
		int32 fValue;
		VValueBag* fFound;
	};
	const Row rows[] = {{"row", 1, bag->GetElements("row")->_GetNth(1)}, {"row", 2, nullptr}, {"row", 3, nullptr}, {"row", 0, unnumbered}, {"absent", 1, nullptr}};
	for (const Row& row : rows)
	{
		const int32 references = row.fFound != nullptr ? row.fFound->GetRefCount() : 0;
		VValueBag* found = bag->RetainUniqueElementWithAttribute(row.fElement, "id", VLong(row.fValue));
		EXPECT_EQ(found, row.fFound) << row.fElement << " " << row.fValue;
		if (found != nullptr)
		{
			EXPECT_EQ(found->GetRefCount(), references + 1);
			found->Release();
		}
	}

	VString name("unchanged");
	EXPECT_EQ(bag->GetUniqueElementAnyKind(name), nullptr) << "four bags";
	VValueBag* single = new VValueBag();
	EXPECT_EQ(single->GetUniqueElementAnyKind(name), nullptr);
	VValueBag* only = AddOwned(*single, "only");
	EXPECT_EQ(single->GetUniqueElementAnyKind(name), only);
	EXPECT_EQ(Utf8(name), "only");
	AddOwned(*single, "second");
	EXPECT_EQ(single->GetUniqueElementAnyKind(name), nullptr) << "two names";
	single->Release();
	unnumbered->Release();
	bag->Release();
}

TEST(VValueBagElementsTest, SortingFollowsTheOrderingsDownTheTree)
{
	const StPackedDictionaryKey root("root"), head("head"), body("body"), foot("foot"), title("title"), meta("meta");
	const StBagElementsOrdering orderings[] = {
		{&root, {&head, &body, &foot}},
		{&head, {&title, &meta}},
		{nullptr, {}},
	};

	VValueBag* bag = new VValueBag();
	AddOwned(*bag, "foot");
	VValueBag* firstHead = AddOwned(*bag, "head");
	AddOwned(*bag, "extra");
	AddOwned(*bag, "body");
	VValueBag* secondHead = AddOwned(*bag, "head");
	for (VValueBag* h : {firstHead, secondHead})
	{
		AddOwned(*h, "meta");
		AddOwned(*h, "unlisted");
		AddOwned(*h, "title");
	}
	// Below a name without a record nothing moves.
	VValueBag* extra = bag->GetElements("extra")->_GetNth(1);
	AddOwned(*extra, "meta");
	AddOwned(*extra, "title");
	// Already ascending: left as it is, though the unlisted name comes last.
	VValueBag* body1 = bag->GetElements("body")->_GetNth(1);
	AddOwned(*body1, "head");
	AddOwned(*body1, "body");

	EXPECT_TRUE(bag->SortElements("nothing", orderings));
	EXPECT_TRUE(bag->SortElements("root", nullptr));
	EXPECT_EQ(Names(*bag), "foot,head,extra,body");

	ASSERT_TRUE(bag->SortElements("root", orderings));
	EXPECT_EQ(Names(*bag), "extra,head,body,foot");
	EXPECT_EQ(bag->GetElements("head")->GetCount(), 2) << "each list moves with its name";
	EXPECT_EQ(bag->GetElements("head")->_GetNth(2), secondHead);
	EXPECT_EQ(Names(*firstHead), "unlisted,title,meta");
	EXPECT_EQ(Names(*secondHead), "unlisted,title,meta");
	EXPECT_EQ(Names(*extra), "meta,title");
	EXPECT_EQ(Names(*body1), "head,body");
	bag->Release();
}

}  // namespace
}  // namespace velk
