// Lists of bags: insertion at every place, replacement, removal with and without release, search.
#include "containers/VBagArray.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "containers/VValueBag.h"

namespace velk {
namespace {

// The list's bags as the letters of their "id" attributes.
std::string Ids(const VBagArray& list)
{
	std::string ids;
	for (int32 pos = 1; pos <= list.GetCount(); ++pos)
	{
		int64 id = 0;
		list._GetNth(pos)->GetLong8("id", id);
		ids += char('a' + id);
	}
	return ids;
}

TEST(VBagArrayTest, InsertReplaceRemoveAndFind)
{
	std::vector<VValueBag*> bags;
	for (int i = 0; i < 5; ++i)
	{
		bags.push_back(new VValueBag());
		bags.back()->SetLong8("id", i);
	}
	VValueBag* a = bags[0];
	VValueBag* b = bags[1];
	VValueBag* c = bags[2];
	VValueBag* d = bags[3];
	VValueBag* e = bags[4];

	VBagArray* list = new VBagArray();
	ASSERT_TRUE(list->AddTail(a));
	ASSERT_TRUE(list->AddTail(b));
	struct Insert
	{
		VValueBag* fBag;
		int32 fPos;
		const char* fAfter;
	};
	const Insert inserts[] = {{c, 99, "abc"}, {d, 0, "dabc"}, {e, -3, "edabc"}, {c, 3, "edcabc"}, {e, 7, "edcabce"}};
	for (const Insert& insert : inserts)
	{
		ASSERT_TRUE(list->AddNth(insert.fBag, insert.fPos));
		EXPECT_EQ(Ids(*list), insert.fAfter) << insert.fPos;
	}
	EXPECT_FALSE(list->AddNth(nullptr, 1));
	EXPECT_EQ(c->GetRefCount(), 3);
	EXPECT_EQ(list->Find(c), 3);
	EXPECT_EQ(list->Find(nullptr), 0);

	// SetNth: out of range, null and the same bag change nothing.
	list->SetNth(a, 0);
	list->SetNth(a, 8);
	list->SetNth(nullptr, 1);
	list->SetNth(e, 1);
	EXPECT_EQ(Ids(*list), "edcabce");
	EXPECT_EQ(e->GetRefCount(), 3);
	list->SetNth(b, 3);
	EXPECT_EQ(Ids(*list), "edbabce");
	EXPECT_EQ(c->GetRefCount(), 2) << "the replaced bag was released";
	EXPECT_EQ(b->GetRefCount(), 3);

	list->DeleteNth(0);
	list->DeleteNth(8);
	list->DeleteNth(1);
	EXPECT_EQ(Ids(*list), "dbabce");
	EXPECT_EQ(e->GetRefCount(), 2);

	// Delete hands the list's reference to the caller: the count stays.
	list->Delete(b);
	EXPECT_EQ(Ids(*list), "dabce");
	EXPECT_EQ(b->GetRefCount(), 3);
	b->Release();
	list->Delete(b);
	EXPECT_EQ(Ids(*list), "dace");
	EXPECT_EQ(b->GetRefCount(), 2);
	b->Release();
	list->Delete(b);
	EXPECT_EQ(Ids(*list), "dace") << "a bag not in the list";

	list->Release();
	for (VValueBag* bag : bags)
	{
		EXPECT_EQ(bag->GetRefCount(), 1);
		bag->Release();
	}
}

}  // namespace
}  // namespace velk
