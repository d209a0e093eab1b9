// Packed dictionaries: the hash index, lookups among colliding keys, the flat store of the attribute
// dictionary (in-place replacement, cached values, packing, copies) and the element dictionary's references.
#include "containers/VPackedDictionary_with_backstore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/VFailingAllocations.h"
#include "containers/VBagArray.h"
#include "containers/VPackedDictionary.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VReal.h"

namespace velk {
namespace {

using Attributes = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;
using Elements = VPackedDictionary<VPackedValue_VBagArray>;

// A single value of no registered kind: only its object can give it back.
class KindlessValue : public VValueSingle
{
public:
	explicit KindlessValue(int32 value = 0) : fValue(value) {}
	VValue* Clone() const override { return new KindlessValue(*this); }
	CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }
	void GetString(VString& text) const override
	{
		text.Clear();
		text.AppendLong(fValue);
	}
	void GetValue(VValueSingle& value) const override { value.FromLong(fValue); }
	uint64 GetSpace(uint64&, uint64) const override { return sizeof(fValue); }
	void* WriteToPtr(void* data, uint8, uint64) const override
	{
		std::memcpy(data, &fValue, sizeof(fValue));
		return static_cast<uint8*>(data) + sizeof(fValue);
	}

private:
	int32 fValue;
};

std::string Name(int i)
{
	return "attribute_" + std::to_string(i);
}

// Append moves the slots: end() is only meaningful once it has returned.
bool Appended(Attributes& attributes, const StPackedDictionaryKey& key, const VValueSingle& value)
{
	const auto slot = attributes.Append(key, value);
	return slot != attributes.end();
}

int64 ReadLong8(const Attributes& attributes, const StPackedDictionaryKey& key)
{
	VLong8 out(int64(-999));
	EXPECT_TRUE(attributes.GetValue(key, out));
	return out.Get();
}

std::u16string ReadText(const Attributes& attributes, const StPackedDictionaryKey& key)
{
	VString out;
	EXPECT_TRUE(attributes.GetValue(key, out));
	return std::u16string(out.GetCPointer(), size_t(out.GetLength()));
}

TEST(VPackedDictionaryTest, IndexSizesFollowTheKeyCount)
{
	const std::pair<size_t, size_t> rows[] = {{0, 5}, {4, 5}, {5, 11}, {6, 11}, {8, 11}, {9, 23}, {3571, 5779}, {3572, 9349}, {5778, 9349}, {5779, 15121}, {3010349, 4870843}, {3010350, 12752029}, {4000000000u, 4106118251u}};
	for (const auto& [keys, size] : rows)
		EXPECT_EQ(_VHashKeyMap::_ComputeHashVectorSize(keys), size) << keys;

	Attributes attributes;
	for (int i = 1; i <= 5; ++i)
		ASSERT_TRUE(Appended(attributes, StPackedDictionaryKey(VString(Name(i).c_str())), VLong8(int64(i))));
	EXPECT_NE(attributes._Find(StPackedDictionaryKey("attribute_3")), attributes.end());
	EXPECT_EQ(attributes._GetIndexSize(), 0u) << "five keys are scanned";

	// The sixth key brings the index, built by the append so that lookups only read. A full table is
	// rebuilt for the new count by the next append (the sizes are part of the binary form).
	const std::pair<int, size_t> growth[] = {{6, 11}, {11, 11}, {12, 23}, {23, 23}, {24, 41}, {41, 41}, {42, 67}};
	int count = 5;
	for (const auto& [keys, size] : growth)
	{
		for (; count < keys; ++count)
			ASSERT_TRUE(Appended(attributes, StPackedDictionaryKey(VString(Name(count + 1).c_str())), VLong8(int64(count + 1))));
		EXPECT_EQ(attributes._GetIndexSize(), size) << keys << " keys";
		for (int i = 1; i <= keys; i += 5)
			EXPECT_EQ(ReadLong8(attributes, StPackedDictionaryKey(VString(Name(i).c_str()))), i) << keys << " keys";
		EXPECT_EQ(attributes._Find(StPackedDictionaryKey("attribute_0")), attributes.end()) << keys << " keys";
		EXPECT_EQ(attributes._GetIndexSize(), size) << "lookups leave the index alone";
	}

	const Attributes copy(attributes);
	EXPECT_EQ(copy._GetIndexSize(), 67u);
	EXPECT_EQ(ReadLong8(copy, StPackedDictionaryKey("attribute_42")), 42);
}

TEST(VPackedDictionaryTest, LookupsFindEveryKeyAmongMany)
{
	// Keys of 18 bytes that differ only between their first and last 8 bytes all share one hash.
	std::vector<std::string> names;
	for (int i = 0; i < 40; ++i)
		names.push_back("prefix__" + std::string(1, char('A' + i % 26)) + std::string(1, char('a' + i / 26)) + "_suffix_");
	for (int i = 0; i < 300; ++i)
		names.push_back(Name(i));

	Attributes attributes;
	for (size_t i = 0; i < names.size(); ++i)
	{
		ASSERT_TRUE(Appended(attributes, StPackedDictionaryKey(names[i].c_str()), VLong8(int64(i))));
		// Lookups between appends build the index early and keep it up to date.
		if (i % 50 == 7)
		{
			EXPECT_EQ(ReadLong8(attributes, StPackedDictionaryKey(names[i / 2].c_str())), int64(i / 2));
		}
	}
	EXPECT_EQ(StPackedDictionaryKey(names[0].c_str()).GetHashCode(), StPackedDictionaryKey(names[39].c_str()).GetHashCode());
	EXPECT_GT(attributes._GetIndexSize(), names.size());

	for (size_t i = 0; i < names.size(); ++i)
		EXPECT_EQ(ReadLong8(attributes, StPackedDictionaryKey(names[i].c_str())), int64(i)) << names[i];
	for (const char* absent : {"attribute_300", "prefix__Zz_suffix_", "", "attribute_"})
		EXPECT_EQ(attributes._Find(StPackedDictionaryKey(absent)), attributes.end()) << absent;
}

TEST(VPackedDictionaryTest, KeysLongerThanALengthByteAreRefused)
{
	const std::string longName(256, 'k');
	Attributes attributes;
	EXPECT_FALSE(Appended(attributes, StPackedDictionaryKey(longName.c_str()), VLong8(int64(1))));
	EXPECT_EQ(attributes.GetCount(), 0u);
	const std::string longest(255, 'k');
	ASSERT_TRUE(Appended(attributes, StPackedDictionaryKey(longest.c_str()), VLong8(int64(2))));
	EXPECT_EQ(ReadLong8(attributes, StPackedDictionaryKey(longest.c_str())), 2);
}

TEST(VPackedDictionaryTest, ReplacingValuesInPlaceOrThroughCachedObjects)
{
	const StPackedDictionaryKey a("a"), b("b"), c("c");
	Attributes attributes;
	attributes.Append(a, VLong8(int64(1)));
	attributes.Append(b, VLong(7));
	attributes.Append(c, VReal(0.5));
	EXPECT_FALSE(attributes.IsDirty());

	// Same flat size: written over the stored value, even of another kind.
	EXPECT_TRUE(attributes.SetExistingValue(a, VLong8(int64(-42))));
	EXPECT_TRUE(attributes.SetExistingValue(c, VLong8(int64(5))));
	EXPECT_FALSE(attributes.IsDirty());
	EXPECT_EQ(attributes.GetValueKind(attributes._Find(c)), VK_LONG8);
	EXPECT_EQ(ReadLong8(attributes, a), -42);
	EXPECT_EQ(ReadLong8(attributes, c), 5);

	// Another size: the slot caches the value and the store is stale until packed.
	EXPECT_TRUE(attributes.SetExistingValue(b, VString("a longer text")));
	EXPECT_TRUE(attributes.IsDirty());
	EXPECT_EQ(attributes.GetValueKind(attributes._Find(b)), VK_STRING);
	EXPECT_EQ(ReadText(attributes, b), u"a longer text");
	EXPECT_TRUE(attributes.SetExistingValue(b, VString("changed again")));
	EXPECT_FALSE(attributes.SetExistingValue(StPackedDictionaryKey("absent"), VLong8(int64(1))));

	EXPECT_TRUE(attributes._Pack());
	EXPECT_FALSE(attributes.IsDirty());
	EXPECT_EQ(ReadText(attributes, b), u"changed again");
	EXPECT_EQ(ReadLong8(attributes, a), -42);
	EXPECT_EQ(ReadLong8(attributes, c), 5);
}

TEST(VPackedDictionaryTest, ReadingIntoAnotherKindConverts)
{
	Attributes attributes;
	attributes.Append(StPackedDictionaryKey("n"), VLong(7));
	attributes.Append(StPackedDictionaryKey("r"), VReal(2.5));

	EXPECT_EQ(ReadText(attributes, StPackedDictionaryKey("n")), u"7");
	const VValueSingle* value = attributes.GetValuePtr(attributes._Find(StPackedDictionaryKey("n")));
	ASSERT_NE(value, nullptr);
	EXPECT_EQ(value->GetLong(), 7);
	EXPECT_EQ(attributes.GetValuePtr(attributes._Find(StPackedDictionaryKey("n"))), value) << "made once, then cached";
	EXPECT_FALSE(attributes.IsDirty()) << "a value read from the store does not make it stale";

	VLong8 out;
	EXPECT_TRUE(attributes.GetValue(StPackedDictionaryKey("r"), out));
	EXPECT_EQ(out.Get(), 2);

	VLong8 untouched(int64(99));
	EXPECT_FALSE(attributes.GetValue(StPackedDictionaryKey("absent"), untouched));
	EXPECT_EQ(untouched.Get(), 99);
}

TEST(VPackedDictionaryTest, CopiesReadFromTheStoreAndKeepWhatCannotBeRebuilt)
{
	Attributes source;
	source.Append(StPackedDictionaryKey("first"), VLong8(int64(1)));
	source.Append(StPackedDictionaryKey("text"), VString("42"));
	source.Append(StPackedDictionaryKey("kindless"), KindlessValue(1234));
	source.Append(StPackedDictionaryKey("last"), VLong8(int64(3)));
	source.Append(StPackedDictionaryKey("widened"), VLong(7));
	source.SetExistingValue(StPackedDictionaryKey("first"), VString("grown into a string"));
	source.SetExistingValue(StPackedDictionaryKey("widened"), VLong8(int64(1) << 40));
	ASSERT_TRUE(source.IsDirty());

	Attributes copy(source);
	EXPECT_TRUE(copy.IsComplete());
	EXPECT_TRUE(source.IsDirty()) << "copying only reads the source: the copy packs its own store";
	EXPECT_FALSE(copy.IsDirty());
	EXPECT_EQ(ReadText(source, StPackedDictionaryKey("first")), u"grown into a string");
	EXPECT_EQ(ReadText(copy, StPackedDictionaryKey("first")), u"grown into a string");
	EXPECT_EQ(ReadLong8(copy, StPackedDictionaryKey("last")), 3);
	EXPECT_EQ(ReadLong8(copy, StPackedDictionaryKey("widened")), int64(1) << 40);
	EXPECT_EQ(copy.GetValueKind(copy._Find(StPackedDictionaryKey("widened"))), VK_LONG8);

	// Values whose kind has no descriptor are read into other kinds through their copied object.
	VLong number;
	EXPECT_TRUE(copy.GetValue(StPackedDictionaryKey("text"), number));
	EXPECT_EQ(number.GetLong(), 42);
	EXPECT_EQ(ReadText(copy, StPackedDictionaryKey("kindless")), u"1234");

	// The copy is independent.
	source.SetExistingValue(StPackedDictionaryKey("last"), VLong8(int64(300)));
	EXPECT_EQ(ReadLong8(copy, StPackedDictionaryKey("last")), 3);

	copy.Destroy();
	EXPECT_EQ(copy.GetCount(), 0u);
	EXPECT_EQ(copy._Find(StPackedDictionaryKey("first")), copy.end());
}

// A copy into a dictionary that holds values of its own either takes the whole source or leaves the
// dictionary as it was, for every allocation it can be refused.
TEST(VPackedDictionaryTest, CopyAssignmentIsAllOrNothing)
{
	Attributes source;
	for (int i = 0; i < 8; ++i)
		source.Append(StPackedDictionaryKey(VString(Name(i).c_str())), VLong8(int64(i)));
	source.Append(StPackedDictionaryKey("kindless"), KindlessValue(77));
	source.SetExistingValue(StPackedDictionaryKey("attribute_2"), VString("dirty: newer than the store"));

	long allowed = 0;
	long refused = 0;
	for (; allowed < 1000; ++allowed)
	{
		Attributes target;
		target.Append(StPackedDictionaryKey("own"), VLong8(int64(-1)));
		target.Append(StPackedDictionaryKey("text"), VString("kept"));
		bool complete = false;
		{
			test::StFailingAllocations failing(allowed);
			target = source;
			complete = target.IsComplete();
			refused = failing.GetRefusedCount();
		}
		if (complete)
		{
			EXPECT_EQ(target.GetCount(), source.GetCount()) << allowed;
			EXPECT_EQ(ReadText(target, StPackedDictionaryKey("attribute_2")), u"dirty: newer than the store") << allowed;
			EXPECT_EQ(ReadText(target, StPackedDictionaryKey("kindless")), u"77") << allowed;
			EXPECT_EQ(ReadLong8(target, StPackedDictionaryKey("attribute_7")), 7) << allowed;
		}
		else
		{
			EXPECT_EQ(target.GetCount(), 2u) << allowed;
			EXPECT_EQ(ReadLong8(target, StPackedDictionaryKey("own")), -1) << allowed;
			EXPECT_EQ(ReadText(target, StPackedDictionaryKey("text")), u"kept") << allowed;
		}
		if (refused == 0)
			break;
	}
	EXPECT_EQ(refused, 0) << "the drill ended";
	EXPECT_GT(allowed, 3) << "the copy allocates";
	EXPECT_TRUE(source.IsDirty());
}

// Removing one attribute leaves every other readable, whatever its place, with or without an index, with
// values of several sizes, cached or not.
TEST(VPackedDictionaryTest, ClearedAttributesLeaveTheOthersReadable)
{
	struct Row
	{
		int fCount;
		int fCleared;
	};
	const Row rows[] = {{3, 0}, {3, 1}, {3, 2}, {8, 0}, {8, 4}, {8, 7}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << row.fCleared << " of " << row.fCount);
		Attributes attributes;
		for (int i = 0; i < row.fCount; ++i)
		{
			const StPackedDictionaryKey key(VString(Name(i).c_str()));
			// Texts of growing length, numbers between them.
			if (i % 2 == 0)
				ASSERT_TRUE(Appended(attributes, key, VString(std::string(size_t(i + 1), 't').c_str())));
			else
				ASSERT_TRUE(Appended(attributes, key, VLong8(int64(i))));
		}
		// One cached value in a slot behind the one cleared, one in front of it.
		attributes.SetExistingValue(StPackedDictionaryKey("attribute_1"), VString("cached text"));
		EXPECT_EQ(ReadText(attributes, StPackedDictionaryKey("attribute_0")), std::u16string(1, u't'));

		ASSERT_TRUE(attributes.Clear(StPackedDictionaryKey(VString(Name(row.fCleared).c_str()))));
		EXPECT_FALSE(attributes.Clear(StPackedDictionaryKey(VString(Name(row.fCleared).c_str()))));
		EXPECT_EQ(attributes.GetCount(), size_t(row.fCount - 1));
		EXPECT_EQ(attributes._GetIndexSize(), row.fCount - 1 >= 6 ? 11u : 0u);
		const Attributes copy(attributes);
		for (const Attributes* dictionary : {static_cast<const Attributes*>(&attributes), &copy})
		{
			for (int i = 0; i < row.fCount; ++i)
			{
				const StPackedDictionaryKey key(VString(Name(i).c_str()));
				if (i == row.fCleared)
					EXPECT_EQ(dictionary->_Find(key), dictionary->end());
				else if (i == 1)
					EXPECT_EQ(ReadText(*dictionary, key), u"cached text");
				else if (i % 2 == 0)
					EXPECT_EQ(ReadText(*dictionary, key), std::u16string(size_t(i + 1), u't')) << i;
				else
					EXPECT_EQ(ReadLong8(*dictionary, key), i) << i;
			}
		}
		// The freed room is reused cleanly by the next append.
		ASSERT_TRUE(Appended(attributes, StPackedDictionaryKey("appended"), VLong8(int64(-5))));
		EXPECT_EQ(ReadLong8(attributes, StPackedDictionaryKey("appended")), -5);
		EXPECT_TRUE(attributes._Pack());
		EXPECT_EQ(ReadLong8(attributes, StPackedDictionaryKey("appended")), -5);
	}
}

TEST(VPackedDictionaryTest, ElementNamesAreRemovedAndReordered)
{
	Elements elements;
	std::vector<VBagArray*> lists;
	for (int i = 0; i < 7; ++i)
	{
		lists.push_back(new VBagArray());
		ASSERT_TRUE(elements.SetValue(StPackedDictionaryKey(VString(Name(i).c_str())), lists.back()));
	}
	EXPECT_TRUE(elements.Clear(StPackedDictionaryKey("attribute_2")));
	EXPECT_FALSE(elements.Clear(StPackedDictionaryKey("attribute_2")));
	EXPECT_EQ(lists[2]->GetRefCount(), 1) << "the removed name's list was released";
	EXPECT_EQ(elements.GetCount(), 6u);
	EXPECT_EQ(elements._GetIndexSize(), 11u);

	// Reversed: each name keeps its list.
	EXPECT_FALSE(elements._Reorder({0, 1, 2}));
	EXPECT_FALSE(elements._Reorder({0, 0, 1, 2, 3, 4}));
	ASSERT_TRUE(elements._Reorder({5, 4, 3, 2, 1, 0}));
	const int expected[] = {6, 5, 4, 3, 1, 0};
	size_t position = 0;
	for (const auto& slot : elements)
	{
		size_t length = 0;
		const char* bytes = elements._GetKeyBytes(slot, length);
		EXPECT_EQ(std::string(bytes, length), Name(expected[position]));
		EXPECT_EQ(slot.fValue, lists[size_t(expected[position])]);
		++position;
	}
	for (int i : expected)
		EXPECT_EQ(elements.GetValue(StPackedDictionaryKey(VString(Name(i).c_str()))), lists[size_t(i)]) << i;
	for (VBagArray* list : lists)
		list->Release();
}

TEST(VPackedDictionaryTest, ElementDictionaryHoldsOneReferencePerList)
{
	VBagArray* first = new VBagArray();
	VBagArray* second = new VBagArray();
	{
		Elements elements;
		EXPECT_TRUE(elements.SetValue(StPackedDictionaryKey("item"), first));
		EXPECT_EQ(first->GetRefCount(), 2);
		EXPECT_TRUE(elements.SetValue(StPackedDictionaryKey("item"), first));
		EXPECT_EQ(first->GetRefCount(), 2) << "storing the same list again changes nothing";

		EXPECT_TRUE(elements.SetValue(StPackedDictionaryKey("item"), second));
		EXPECT_EQ(first->GetRefCount(), 1);
		EXPECT_EQ(second->GetRefCount(), 2);
		EXPECT_EQ(elements.GetValue(StPackedDictionaryKey("item")), second);
		EXPECT_EQ(elements.GetCount(), 1u);
		EXPECT_EQ(elements.GetValue(StPackedDictionaryKey("other")), nullptr);
	}
	EXPECT_EQ(second->GetRefCount(), 1) << "the dictionary released its list when it went";
	first->Release();
	second->Release();
}

}  // namespace
}  // namespace velk
