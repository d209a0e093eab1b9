// Value bags: attributes of every kind set, replaced and read back, elements held and released, emptiness,
// deep copies, the bag's own reference count and kind, readers and cloners on several threads, and
// failures for memory that leave the bag as it was.
#include "containers/VValueBag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "containers/VBagTestHelpers.h"
#include "containers/VBagArray.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"
#include "common/VFailingAllocations.h"
#include "common/VTestEnvironment.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorContext.h"

namespace velk {
namespace {

using test::Text;
using test::StBag;

std::u16string StringAttribute(const VValueBag& bag, const StPackedDictionaryKey& key)
{
	VString out;
	EXPECT_TRUE(bag.GetString(key, out));
	return Text(out);
}

TEST(VValueBagTest, AttributesOfEveryKindAreSetReplacedAndRead)
{
	VTime day;
	day.FromUTCTime(2024, 2, 29, 13, 45, 10, 250);
	VTime later;
	later.FromUTCTime(2031, 12, 31, 23, 59, 59, 999);

	struct Row
	{
		const char* fName;
		std::function<bool(VValueBag&)> fSet;
		std::function<bool(VValueBag&)> fReplace;
		// The attribute as read back after the set, then after the replacement.
		std::u16string fFirst;
		std::u16string fSecond;
	};
	const Row rows[] = {
		{"flag", [](VValueBag& b) { return b.SetBool("flag", true); }, [](VValueBag& b) { return b.SetBool("flag", false); }, u"1", u"0"},
		{"count", [](VValueBag& b) { return b.SetLong8("count", INT64_MIN); }, [](VValueBag& b) { return b.SetLong8("count", 12); }, u"-9223372036854775808", u"12"},
		{"ratio", [](VValueBag& b) { return b.SetReal("ratio", 2.5); }, [](VValueBag& b) { return b.SetReal("ratio", -0.125); }, u"2.5", u"-0.125"},
		{"name", [](VValueBag& b) { return b.SetString("name", VString("Ann")); }, [](VValueBag& b) { return b.SetString("name", VString("a much longer name than before")); }, u"Ann", u"a much longer name than before"},
		{"mixed", [](VValueBag& b) { return b.SetLong8("mixed", 5); }, [](VValueBag& b) { return b.SetString("mixed", VString("five")); }, u"5", u"five"},
	};

	StBag bag;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		ASSERT_TRUE(row.fSet(*bag));
		const VValueSingle* value = bag->GetAttribute(row.fName);
		ASSERT_NE(value, nullptr);
		VString text;
		value->GetString(text);
		if (std::string(row.fName) == "flag")
		{
			EXPECT_EQ(value->GetBoolean(), true);
		}
		else
		{
			EXPECT_EQ(Text(text), row.fFirst);
		}
	}
	ASSERT_TRUE(bag->SetTime("when", day));
	const int32 count = bag->GetAttributesCount();

	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		ASSERT_TRUE(row.fReplace(*bag));
		if (std::string(row.fName) != "flag")
		{
			EXPECT_EQ(StringAttribute(*bag, row.fName), row.fSecond);
		}
	}
	ASSERT_TRUE(bag->SetTime("when", later));
	EXPECT_EQ(bag->GetAttributesCount(), count) << "replacing adds no attribute";

	bool flag = true;
	int64 number = 0;
	double real = 0;
	VTime when;
	EXPECT_TRUE(bag->GetBool("flag", flag));
	EXPECT_FALSE(flag);
	EXPECT_TRUE(bag->GetLong8("count", number));
	EXPECT_EQ(number, 12);
	EXPECT_TRUE(bag->GetReal("ratio", real));
	EXPECT_EQ(real, -0.125);
	EXPECT_TRUE(bag->GetTime("when", when));
	EXPECT_TRUE(when == later);
	EXPECT_TRUE(bag->GetLong8("ratio", number));
	EXPECT_EQ(number, 0) << "a real read as an integer is truncated";

	// Absent attributes leave the output as it was.
	number = 77;
	EXPECT_FALSE(bag->GetLong8("absent", number));
	EXPECT_EQ(number, 77);
	EXPECT_EQ(bag->GetAttribute("absent"), nullptr);
}

TEST(VValueBagTest, AnySingleValueIsCopiedAndOthersAreRefused)
{
	StBag bag;
	VString source("copied");
	EXPECT_TRUE(bag->SetTime("text", source));
	source.AppendCString(" later");
	EXPECT_EQ(StringAttribute(*bag, "text"), u"copied");

	StBag other;
	EXPECT_FALSE(bag->SetTime("bag", *other));
	EXPECT_EQ(bag->GetAttribute("bag"), nullptr);

	// Keys that cannot be stored: empty, or a name that did not fit 255 bytes.
	EXPECT_FALSE(bag->SetLong8("", 1));
	EXPECT_FALSE(bag->SetLong8(StPackedDictionaryKey(VString(std::u16string(300, u'x').c_str())), 1));
	EXPECT_EQ(bag->GetAttributesCount(), 1);

	// The same name from each text form reaches the same attribute.
	EXPECT_TRUE(bag->SetLong8(L"caf\u00E9", 1));
	EXPECT_TRUE(bag->SetLong8(VString(u"caf\u00E9"), 2));
	int64 number = 0;
	EXPECT_TRUE(bag->GetLong8("caf\xC3\xA9", number));
	EXPECT_EQ(number, 2);
	EXPECT_EQ(bag->GetAttributesCount(), 2);
}

TEST(VValueBagTest, ManyAttributesStayReadableThroughReplacements)
{
	StBag bag;
	for (int i = 0; i < 50; ++i)
		ASSERT_TRUE(bag->SetLong8(VString(("key" + std::to_string(i)).c_str()), i));
	// Every third becomes a string of its own length, every fifth a real.
	for (int i = 0; i < 50; i += 3)
		ASSERT_TRUE(bag->SetString(VString(("key" + std::to_string(i)).c_str()), VString(std::string(size_t(i), 's').c_str())));
	for (int i = 0; i < 50; i += 5)
		ASSERT_TRUE(bag->SetReal(VString(("key" + std::to_string(i)).c_str()), i + 0.5));
	EXPECT_EQ(bag->GetAttributesCount(), 50);

	VValue* clone = bag->Clone();
	ASSERT_NE(clone, nullptr);
	VValueBag* copy = static_cast<VValueBag*>(clone);
	for (const VValueBag* b : {bag.fBag, copy})
	{
		for (int i = 0; i < 50; ++i)
		{
			const StPackedDictionaryKey key(VString(("key" + std::to_string(i)).c_str()));
			const VValueSingle* value = b->GetAttribute(key);
			ASSERT_NE(value, nullptr) << i;
			if (i % 5 == 0)
			{
				EXPECT_EQ(value->GetReal(), i + 0.5) << i;
			}
			else if (i % 3 == 0)
			{
				EXPECT_EQ(StringAttribute(*b, key), std::u16string(size_t(i), u's')) << i;
			}
			else
			{
				EXPECT_EQ(value->GetLong8(), i) << i;
			}
		}
	}
	copy->Release();
}

TEST(VValueBagTest, CDataAndEmptiness)
{
	EXPECT_EQ(std::string(VValueBag::CDataAttributeName().GetKey(), VValueBag::CDataAttributeName().GetKeyLength()), "<>");
	EXPECT_EQ(&VValueBag::CDataAttributeName(), &VValueBag::CDataAttributeName());

	StBag bag;
	EXPECT_TRUE(bag->IsEmpty());
	EXPECT_TRUE(bag->IsEmpty(true));

	bag->SetBool("____objectunic", true);
	bag->SetString("____property_name_in_jsarray", VString("p"));
	EXPECT_FALSE(bag->IsEmpty());
	EXPECT_TRUE(bag->IsEmpty(true)) << "the JSON markers alone";

	bag->SetString(VValueBag::CDataAttributeName(), VString("text content"));
	EXPECT_FALSE(bag->IsEmpty(true));
	EXPECT_EQ(StringAttribute(*bag, "<>"), u"text content");

	StBag onlyElements;
	VValueBag* child = new VValueBag();
	onlyElements->AddElement("child", child);
	child->Release();
	EXPECT_FALSE(onlyElements->IsEmpty());
	EXPECT_FALSE(onlyElements->IsEmpty(true));
}

TEST(VValueBagTest, ElementsAreRetainedInOrderAndReleasedWithTheBag)
{
	VValueBag* parent = new VValueBag();
	VValueBag* first = new VValueBag();
	VValueBag* second = new VValueBag();
	VValueBag* other = new VValueBag();
	first->SetLong8("n", 1);
	second->SetLong8("n", 2);

	EXPECT_TRUE(parent->AddElement("item", first));
	EXPECT_TRUE(parent->AddElement("item", second));
	EXPECT_TRUE(parent->AddElement("other", other));
	EXPECT_TRUE(parent->AddElement("item", first)) << "the same bag may appear twice";
	EXPECT_FALSE(parent->AddElement("item", nullptr));
	EXPECT_FALSE(parent->AddElement("", second));
	EXPECT_EQ(first->GetRefCount(), 3);
	EXPECT_EQ(second->GetRefCount(), 2);
	EXPECT_EQ(parent->GetElementNamesCount(), 2);
	EXPECT_EQ(parent->GetElements("absent"), nullptr);

	VBagArray* items = parent->GetElements("item");
	ASSERT_NE(items, nullptr);
	ASSERT_EQ(items->GetCount(), 3);
	int64 seen[3] = {};
	for (int32 pos = 1; pos <= 3; ++pos)
	{
		VValueBag* bag = items->RetainNth(pos);
		bag->GetLong8("n", seen[pos - 1]);
		bag->Release();
	}
	EXPECT_EQ(seen[0], 1);
	EXPECT_EQ(seen[1], 2);
	EXPECT_EQ(seen[2], 1);

	for (int32 outside : {0, 4})
	{
		VValueBag* fresh = items->RetainNth(outside);
		ASSERT_NE(fresh, nullptr);
		EXPECT_TRUE(fresh->IsEmpty());
		EXPECT_EQ(fresh->GetRefCount(), 1);
		fresh->Release();
	}

	parent->Release();
	EXPECT_EQ(first->GetRefCount(), 1);
	EXPECT_EQ(second->GetRefCount(), 1);
	EXPECT_EQ(other->GetRefCount(), 1);
	first->Release();
	second->Release();
	other->Release();
}

TEST(VValueBagTest, ClonesAreDeepAndIndependent)
{
	StBag source;
	source->SetLong8("n", 5);
	source->SetLong8("s", 1);
	source->SetString("s", VString("became a string"));
	VValueBag* child = new VValueBag();
	child->SetString("label", VString("original"));
	source->AddElement("child", child);
	child->Release();

	VValue* clone = source->Clone();
	ASSERT_NE(clone, nullptr);
	VValueBag* copy = static_cast<VValueBag*>(clone);
	EXPECT_EQ(copy->GetRefCount(), 1);
	EXPECT_TRUE(copy->IsDirty());
	EXPECT_EQ(StringAttribute(*copy, "s"), u"became a string");

	VBagArray* copiedList = copy->GetElements("child");
	ASSERT_NE(copiedList, nullptr);
	EXPECT_NE(copiedList, source->GetElements("child"));
	VValueBag* copiedChild = copiedList->RetainNth(1);
	EXPECT_NE(copiedChild, child);
	copiedChild->SetString("label", VString("changed in the copy"));
	VValueBag* grandChild = new VValueBag();
	copiedChild->AddElement("deeper", grandChild);
	grandChild->Release();
	copiedChild->Release();
	copy->SetLong8("n", 6);

	EXPECT_EQ(StringAttribute(*child, "label"), u"original");
	EXPECT_EQ(child->GetElements("deeper"), nullptr);
	int64 n = 0;
	source->GetLong8("n", n);
	EXPECT_EQ(n, 5);
	copy->Release();
}

TEST(VValueBagTest, ReferenceCountAndKind)
{
	VValueBag* bag = new VValueBag();
	EXPECT_EQ(bag->GetRefCount(), 1);
	EXPECT_TRUE(bag->IsDirty());
	EXPECT_FALSE(bag->IsNull());
	EXPECT_EQ(bag->Retain(), 2);
	EXPECT_EQ(bag->Release(), 1);
	EXPECT_EQ(bag->GetValueInfo()->GetKind(), VK_BAG);
	EXPECT_EQ(bag->IsVValueSingle(), nullptr);
	bag->Release();

	const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_BAG);
	ASSERT_EQ(info, &VValueBag::sInfo);
	VValue* made = info->Generate();
	VValueBag* generated = dynamic_cast<VValueBag*>(made);
	ASSERT_NE(generated, nullptr);
	EXPECT_TRUE(generated->IsEmpty());
	EXPECT_EQ(generated->GetRefCount(), 1);
	generated->Release();
}

// Every attribute (name, kind, text) and the element lists under the given names, recursively: two bags
// with the same description hold the same things.
std::string Describe(const VValueBag& bag, const std::vector<std::string>& elementNames)
{
	std::string text;
	const VValueBag::VPackedAttributes& attributes = bag.GetAttributes();
	for (auto slot = attributes.begin(); slot != attributes.end(); ++slot)
	{
		size_t length = 0;
		const char* name = attributes._GetKeyBytes(*slot, length);
		VString value;
		bag.GetString(StPackedDictionaryKey(name, length), value);
		text += std::string(name, length) + ":" + std::to_string(attributes.GetValueKind(slot)) + "=";
		for (int32 i = 0; i < value.GetLength(); ++i)
			text += char(value.GetCPointer()[i]);
		text += ";";
	}
	for (const std::string& name : elementNames)
	{
		const VBagArray* list = bag.GetElements(name.c_str());
		if (list == nullptr)
			continue;
		text += name + "[";
		for (int32 pos = 1; pos <= list->GetCount(); ++pos)
		{
			VValueBag* child = list->RetainNth(pos);
			text += Describe(*child, elementNames) + "|";
			child->Release();
		}
		text += "]";
	}
	text += "#" + std::to_string(bag.GetElementNamesCount());
	return text;
}

// Single values of no registered kind, whose copy fails as a copy does when memory is short.
class UncopiableValue : public VValueSingle
{
public:
	VValue* Clone() const override { return nullptr; }
	CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }
	uint64 GetSpace(uint64&, uint64) const override { return 40; }
	void* WriteToPtr(void* data, uint8, uint64) const override
	{
		std::memset(data, 0x5A, 40);
		return static_cast<uint8*>(data) + 40;
	}
};

TEST(VValueBagTest, ReadersAndClonersShareOneBagAcrossThreads)
{
	constexpr int kTHREADS = 8;
	const std::vector<std::string> names = {"item", "other"};
	for (int round = 0; round < 20; ++round)
	{
		// A fresh bag each round: the first reads of a bag are the ones that cache values, and six keys
		// are the first count with a hash index.
		StBag bag;
		for (int i = 0; i < 6; ++i)
			ASSERT_TRUE(bag->SetLong8(VString(("n" + std::to_string(i)).c_str()), i));
		// Grown into another size: a cached value newer than the store, which every copy must see.
		ASSERT_TRUE(bag->SetString("n1", VString("one, grown into a string")));
		ASSERT_TRUE(bag->SetReal("n2", 2.5));
		VValueBag* child = new VValueBag();
		child->SetLong8("depth", 1);
		child->SetString("label", VString("a child"));
		ASSERT_TRUE(bag->AddElement("item", child));
		child->Release();
		const std::string expected = Describe(*bag, names);

		std::latch start(kTHREADS);
		std::vector<std::string> seen(kTHREADS);
		std::vector<int> readable(kTHREADS, 0);
		std::vector<std::thread> threads;
		for (int t = 0; t < kTHREADS; ++t)
		{
			threads.emplace_back([&, t] {
				start.arrive_and_wait();
				for (int i = 0; i < 6; ++i)
				{
					// Read into other kinds and as objects: both cache value objects in the source.
					const StPackedDictionaryKey key(VString(("n" + std::to_string((i + t) % 6)).c_str()));
					VString text;
					const VValueSingle* value = bag->GetAttribute(key);
					if (bag->GetString(key, text) && !text.IsEmpty() && value != nullptr)
						++readable[size_t(t)];
				}
				auto* clone = static_cast<VValueBag*>(bag->Clone());
				if (clone == nullptr)
					return;
				seen[size_t(t)] = Describe(*clone, names);
				clone->Release();
			});
		}
		for (std::thread& thread : threads)
			thread.join();
		for (int t = 0; t < kTHREADS; ++t)
		{
			EXPECT_EQ(seen[size_t(t)], expected) << "round " << round << ", thread " << t;
			EXPECT_EQ(readable[size_t(t)], 6) << "round " << round << ", thread " << t;
		}
		EXPECT_EQ(Describe(*bag, names), expected) << "reading and cloning change nothing";
		EXPECT_TRUE(bag->GetAttributes().IsDirty()) << "the source is not packed by its copies";
	}
}

// Each main bag path is run with allocations refused from the first on, then from the second on, and so
// on until one run needs no refusal. A run that fails answers false (or null), raises velk 100 and leaves
// the bag exactly as it was; a run that succeeds leaves it as an unhindered run does. No exception leaves.
TEST(VValueBagTest, MemoryFailuresLeaveTheBagAsItWas)
{
	VTime day;
	day.FromUTCTime(2024, 2, 29, 13, 45, 10, 250);
	const std::vector<std::string> names = {"item", "other", "deeper"};

	struct Row
	{
		const char* fName;
		// Attributes the bag starts with (5: the next key brings the hash index; 7: it is there).
		int fAttributes;
		bool fWithElements;
		// Gets the bag, a new child made beforehand and where to leave a bag it makes.
		std::function<bool(VValueBag&, VValueBag*, VValueBag*&)> fAction;
	};
	const Row rows[] = {
		{"new long8 bringing the index", 5, false, [](VValueBag& b, VValueBag*, VValueBag*&) { return b.SetLong8("added", -7); }},
		{"new string", 7, true, [](VValueBag& b, VValueBag*, VValueBag*&) { return b.SetString("added", VString("a new string value")); }},
		{"string over a number", 7, false, [](VValueBag& b, VValueBag*, VValueBag*&) { return b.SetString("a3", VString("longer than the number it replaces")); }},
		{"new time", 7, false, [&day](VValueBag& b, VValueBag*, VValueBag*&) { return b.SetTime("when", day); }},
		{"new bool", 0, false, [](VValueBag& b, VValueBag*, VValueBag*&) { return b.SetBool("flag", true); }},
		{"real in place", 7, false, [](VValueBag& b, VValueBag*, VValueBag*&) { return b.SetReal("a2", 0.25); }},
		{"first element", 7, false, [](VValueBag& b, VValueBag* child, VValueBag*&) { return b.AddElement("item", child); }},
		{"element under a known name", 2, true, [](VValueBag& b, VValueBag* child, VValueBag*&) { return b.AddElement("item", child); }},
		{"element under a new name", 2, true, [](VValueBag& b, VValueBag* child, VValueBag*&) { return b.AddElement("other", child); }},
		{"clone", 7, true,
			[](VValueBag& b, VValueBag*, VValueBag*& made) {
				made = static_cast<VValueBag*>(b.Clone());
				return made != nullptr;
			}},
	};

	auto makeBag = [](const Row& row) {
		VValueBag* bag = new VValueBag();
		for (int i = 0; i < row.fAttributes; ++i)
			bag->SetLong8(VString(("a" + std::to_string(i)).c_str()), i * 1000);
		if (row.fAttributes > 2)
			bag->SetString("a1", VString("grown: the bag is dirty"));
		if (row.fWithElements)
		{
			VValueBag* child = new VValueBag();
			child->SetString("label", VString("child"));
			VValueBag* grandChild = new VValueBag();
			grandChild->SetReal("r", 1.5);
			child->AddElement("deeper", grandChild);
			grandChild->Release();
			bag->AddElement("item", child);
			child->Release();
		}
		return bag;
	};
	// What a run leaves: the bag, and the bag the run made when it made one.
	auto describeRun = [&names](const VValueBag& bag, VValueBag*& made) {
		std::string text = Describe(bag, names);
		if (made != nullptr)
		{
			text += " made " + Describe(*made, names);
			made->Release();
			made = nullptr;
		}
		return text;
	};

	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		VValueBag* reference = makeBag(row);
		VValueBag* child = new VValueBag();
		VValueBag* made = nullptr;
		const std::string before = Describe(*reference, names);
		ASSERT_TRUE(row.fAction(*reference, child, made));
		const std::string after = describeRun(*reference, made);
		reference->Release();
		child->Release();

		long runs = 0;
		long refused = 0;
		do
		{
			VValueBag* bag = makeBag(row);
			child = new VValueBag();
			StErrorContextInstaller scope(false, false);
			bool done = false;
			{
				test::StFailingAllocations failing(runs);
				EXPECT_NO_THROW(done = row.fAction(*bag, child, made)) << runs;
				refused = failing.GetRefusedCount();
			}
			if (done)
			{
				EXPECT_EQ(describeRun(*bag, made), after) << runs;
			}
			else
			{
				EXPECT_GT(refused, 0) << runs;
				EXPECT_EQ(made, nullptr) << runs;
				EXPECT_EQ(Describe(*bag, names), before) << runs;
				EXPECT_EQ(child->GetRefCount(), 1) << runs;
				EXPECT_TRUE(scope.GetContext()->FailedForMemory()) << runs;
			}
			bag->Release();
			child->Release();
			++runs;
		} while (refused > 0 && runs < 1000);
		EXPECT_EQ(refused, 0) << "the drill ended";
	}
}

TEST(VValueBagTest, AValueThatCannotBeCopiedRaisesMemoryFull)
{
	StBag bag;
	ASSERT_TRUE(bag->SetLong8("kept", 12));
	ASSERT_TRUE(bag->SetLong8("other", 1));
	const std::string before = Describe(*bag, {});

	StErrorContextInstaller scope(false, false);
	// Another size than the stored number: the bag must keep a copy of the value, which cannot be had.
	EXPECT_FALSE(bag->SetTime("kept", UncopiableValue()));
	EXPECT_EQ(scope.GetLastError(), VE_MEMORY_FULL);
	EXPECT_EQ(Describe(*bag, {}), before);
	int64 kept = 0;
	EXPECT_TRUE(bag->GetLong8("kept", kept));
	EXPECT_EQ(kept, 12);
}

TEST(VValueBagTest, CharacterDataGrowsAndDestroyEmpties)
{
	StBag bag;
	EXPECT_TRUE(bag->AppendToCData(VString("a")));
	EXPECT_TRUE(bag->AppendToCData(VString("bc")));
	EXPECT_EQ(StringAttribute(*bag, "<>"), u"abc");
	ASSERT_TRUE(bag->SetLong8(VValueBag::CDataAttributeName(), 5));
	EXPECT_TRUE(bag->AppendToCData(VString("b")));
	EXPECT_EQ(bag->GetAttribute("<>")->GetValueInfo()->GetKind(), VK_STRING);
	EXPECT_EQ(StringAttribute(*bag, "<>"), u"5b");
	EXPECT_EQ(bag->GetAttributesCount(), 1);

	VValueBag* child = new VValueBag();
	bag->AddElement("child", child);
	bag->SetString("name", VString("n"));
	bag->Destroy();
	EXPECT_TRUE(bag->IsEmpty());
	EXPECT_EQ(bag->GetElements("child"), nullptr);
	EXPECT_EQ(child->GetRefCount(), 1) << "the lists were released";
	EXPECT_TRUE(bag->SetLong8("again", 1)) << "a destroyed bag is an empty bag";
	EXPECT_TRUE(bag->AddElement("child", child));
	child->Release();
}

TEST(VValueBagTest, UnionCloneAndOverride)
{
	const std::vector<std::string> names = {"one", "many", "theirs"};
	// Target: a=1, b="mine", one[{x=1}], many[{m=1}].  Source: b="theirs", c=3, one[{y=2}], many[{m=2},
	// {m=3}], theirs[{t=1}].
	auto makeTarget = [] {
		VValueBag* bag = new VValueBag();
		bag->SetLong8("a", 1);
		bag->SetString("b", VString("mine"));
		VValueBag* child = new VValueBag();
		child->SetLong8("x", 1);
		bag->AddElement("one", child);
		child->Release();
		child = new VValueBag();
		child->SetLong8("m", 1);
		bag->AddElement("many", child);
		child->Release();
		return bag;
	};
	VValueBag* source = new VValueBag();
	source->SetString("b", VString("theirs"));
	source->SetLong8("c", 3);
	for (const auto& [name, key, value] : {std::tuple{"one", "y", 2}, {"many", "m", 2}, {"many", "m", 3}, {"theirs", "t", 1}})
	{
		VValueBag* child = new VValueBag();
		child->SetLong8(key, value);
		source->AddElement(name, child);
		child->Release();
	}

	struct Row
	{
		const char* fName;
		bool fOverride;
		std::string fExpected;
	};
	const Row rows[] = {
		{"union", false, "a:5=1;b:10=theirs;c:5=3;one[x:5=1;#0|y:5=2;#0|]many[m:5=1;#0|m:5=2;#0|m:5=3;#0|]theirs[t:5=1;#0|]#3"},
		{"override", true, "a:5=1;b:10=theirs;c:5=3;one[x:5=1;y:5=2;#0|]many[m:5=1;#0|m:5=2;#0|m:5=3;#0|]theirs[t:5=1;#0|]#3"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		VValueBag* target = makeTarget();
		EXPECT_TRUE(row.fOverride ? target->Override(source) : target->UnionClone(source));
		EXPECT_EQ(Describe(*target, names), row.fExpected);
		EXPECT_FALSE(row.fOverride ? target->Override(nullptr) : target->UnionClone(nullptr));
		// The copies are the target's own.
		EXPECT_NE(target->GetElements("theirs")->_GetNth(1), source->GetElements("theirs")->_GetNth(1));
		target->Release();

		// With itself: attributes stay, lists of one bag merge with themselves under Override, every other
		// list gets copies of its own bags.
		VValueBag* self = makeTarget();
		self->AddElement("many", self->GetElements("many")->_GetNth(1));
		EXPECT_TRUE(row.fOverride ? self->Override(self) : self->UnionClone(self));
		EXPECT_EQ(Describe(*self, names), row.fOverride ? "a:5=1;b:10=mine;one[x:5=1;#0|]many[m:5=1;#0|m:5=1;#0|m:5=1;#0|m:5=1;#0|]#2"
														: "a:5=1;b:10=mine;one[x:5=1;#0|x:5=1;#0|]many[m:5=1;#0|m:5=1;#0|m:5=1;#0|m:5=1;#0|]#2");
		self->Release();
	}
	source->Release();
}

TEST(VValueBagTest, DebugDumpListsAttributesAndElements)
{
	StBag bag;
	bag->SetLong8("n", 5);
	bag->SetString("caf\xC3\xA9", VString(u"\u00E9t\u00E9"));
	VValueBag* child = new VValueBag();
	child->SetBool("ok", true);
	bag->AddElement("child", child);
	bag->AddElement("child", child);
	child->Release();

	VString dump;
	bag->DebugDump(dump);
	const std::u16string childText = u"ok = true\n";
	EXPECT_EQ(Text(dump), u"n = 5\ncaf\u00E9 = \u00E9t\u00E9\n=======\n2 child :\n--\n" + childText + u"--\n" + childText);

	char buffer[8];
	int length = int(sizeof(buffer));
	EXPECT_EQ(bag->DebugDump(buffer, length), CharSet(7));
	EXPECT_EQ(length, 8);
	EXPECT_EQ(std::string(buffer, 8), "n = 5\nca");

	StNoProcessInstance noProcess;
	length = int(sizeof(buffer));
	bag->DebugDump(buffer, length);
	EXPECT_EQ(length, 0);
}

}  // namespace
}  // namespace velk
