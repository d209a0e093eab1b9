// The bag's binary form: the exact bytes of small records in both byte orders, round trips of every scalar
// kind and of nested lists, values replaced before writing, records that are refused, data cut short or
// corrupted at every byte (which must fail cleanly or read back into a bag whose every key is found through
// the index it took), and the older layout.
#include "containers/VValueBag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "containers/VArrayString.h"
#include "containers/VBagArray.h"
#include "containers/VBagTestHelpers.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBlob.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VByte.h"
#include "kernel/values/VConstPtrStream.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VPtrStream.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"
#include "kernel/values/VUUID.h"
#include "kernel/values/VWord.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

using test::AddChild;
using test::StBag;
using Bytes = test::Bytes;
using test::Read;
using test::Written;

// Bytes of a record built by hand, in either byte order.
struct Record
{
	bool fSwap = false;
	Bytes fBytes;

	Record& U8(uint8 value)
	{
		fBytes.push_back(value);
		return *this;
	}
	Record& U16(uint16 value) { return _Put(value, 2); }
	Record& U32(uint32 value) { return _Put(value, 4); }
	Record& Text(const char* text)
	{
		fBytes.insert(fBytes.end(), text, text + std::strlen(text));
		return *this;
	}
	Record& Header() { return U32(VValueBag::kSTREAM_SIGNATURE).U16(1).U16(0); }

	Record& _Put(uint32 value, int32 width)
	{
		for (int32 k = 0; k < width; ++k)
			fBytes.push_back(uint8(value >> (8 * (fSwap ? width - 1 - k : k))));
		return *this;
	}
};

Record Swapped()
{
	Record record;
	record.fSwap = true;
	return record;
}

Bytes SixAttributes()
{
	Record r;
	r.Header().U8(1).U32(6).U32(12).U8(1).Text("a").U8(1).Text("b").U8(1).Text("c").U8(1).Text("d").U8(1).Text("e").U8(1).Text("f");
	r.U8(1).U32(11).U32(~0u).U32(~0u).U32(0).U32(1).U32(2).U32(3).U32(4).U32(5).U32(~0u).U32(~0u).U32(~0u).U32(18);
	for (uint32 i = 0; i < 6; ++i)
		r.U16(VK_LONG).U32(7);
	return r.fBytes;
}

// Every key of the dictionary is found again through lookups, whatever index the reading took.
template <class DICTIONARY>
void ExpectEveryKeyFound(const DICTIONARY& dictionary)
{
	for (auto slot = dictionary.begin(); slot != dictionary.end(); ++slot)
	{
		size_t length = 0;
		const char* bytes = dictionary._GetKeyBytes(*slot, length);
		ASSERT_NE(dictionary._Find(StPackedDictionaryKey(bytes, length)), dictionary.end());
	}
}

void ExpectEveryKeyFound(const VValueBag& bag)
{
	ExpectEveryKeyFound(bag.GetAttributes());
	const VValueBag::VPackedElements* elements = bag.GetElementsDictionary();
	if (elements == nullptr)
		return;
	ExpectEveryKeyFound(*elements);
	for (const VPackedValue_VBagArray& slot : *elements)
	{
		for (int32 i = 1; slot.fValue != nullptr && i <= slot.fValue->GetCount(); ++i)
			ExpectEveryKeyFound(*slot.fValue->_GetNth(i));
	}
}

// The flat form of a value: equal forms are equal values, of every kind.
Bytes Flat(const VValueSingle& value)
{
	uint64 extra = 0;
	Bytes bytes(size_t(value.GetSpace(extra)));
	value.WriteToPtr(bytes.data());
	return bytes;
}

// A bag of six attributes (hence an index) and nested element lists.
void FillTree(VValueBag& bag)
{
	for (const char* name : {"alpha", "beta", "gamma", "delta", "epsilon", "zeta"})
		bag.SetString(name, VString(name));
	bag.SetLong8("size", 1234567890123);
	VValueBag* child = AddChild(bag, "item");
	child->SetReal("ratio", 0.5);
	AddChild(*child, "leaf")->SetBool("on", true);
	AddChild(bag, "item");
	AddChild(bag, "other")->SetString("<>", VString("text"));
}

TEST(VValueBagStreamTest, GoldenRecords)
{
	VLong seven;
	seven.FromLong(7);
	struct Row
	{
		const char* fName;
		bool fSwap;
		std::function<void(VValueBag&)> fFill;
		Bytes fExpected;
	};
	const Row rows[] = {
		{"empty", false, [](VValueBag&) {}, Record().Header().U8(0).fBytes},
		{"empty swapped", true, [](VValueBag&) {}, Swapped().Header().U8(0).fBytes},
		{"one attribute", false, [&](VValueBag& b) { b.SetAttribute("a", seven); },
			Record().Header().U8(1).U32(1).U32(2).U8(1).Text("a").U8(0).U32(3).U16(VK_LONG).U32(7).fBytes},
		{"one attribute swapped", true, [&](VValueBag& b) { b.SetAttribute("a", seven); },
			Swapped().Header().U8(1).U32(1).U32(2).U8(1).Text("a").U8(0).U32(3).U16(VK_LONG).U32(7).fBytes},
		{"one element", false, [](VValueBag& b) { AddChild(b, "e"); },
			Record().Header().U8(2).U32(1).U32(2).U8(1).Text("e").U8(0).U32(1).U8(0).fBytes},
		// One-byte keys hash to 257 + byte: "a" to "f" sit at entries 2 to 7 of 11.
		{"six attributes", false, [&](VValueBag& b) { for (const char* name : {"a", "b", "c", "d", "e", "f"}) b.SetAttribute(name, seven); },
			SixAttributes()},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		StBag bag;
		row.fFill(*bag);
		const Bytes bytes = Written(*bag, row.fSwap);
		EXPECT_EQ(bytes, row.fExpected);
		StBag again;
		EXPECT_EQ(Read(*again, bytes, row.fSwap), VE_OK);
		EXPECT_EQ(Written(*again, row.fSwap), bytes);
	}
	EXPECT_EQ(rows[0].fExpected.size(), 9u);
}

TEST(VValueBagStreamTest, EveryScalarKindAndNestedListsRoundTripInBothOrders)
{
	VTime time;
	time.FromUTCTime(2024, 2, 29, 13, 45, 10, 250);
	VString text("h\xC3\xA9llo, wide text");
	std::vector<std::unique_ptr<VValueSingle>> values;
	values.emplace_back(new VBoolean(1));
	values.emplace_back(new VByte())->FromByte(-5);
	values.emplace_back(new VWord())->FromWord(-1234);
	values.emplace_back(new VLong())->FromLong(-123456789);
	values.emplace_back(new VLong8())->FromLong8(INT64_MIN + 3);
	values.emplace_back(new VReal(-2.75e300));
	values.emplace_back(new VTime(time));
	values.emplace_back(new VDuration(-86400123));
	values.emplace_back(new VString(text));
	values.emplace_back(new VString(""));
	values.emplace_back(new VUUID(true));
	values.emplace_back(new VBlobWithPtr("\x01\x02\x03", 3));

	for (bool swap : {false, true})
	{
		SCOPED_TRACE(swap ? "swapped" : "host order");
		StBag bag;
		for (size_t i = 0; i < values.size(); ++i)
			ASSERT_TRUE(bag->SetAttribute(("k" + std::to_string(i)).c_str(), *values[i]));
		FillTree(*AddChild(*bag, "tree"));
		// Replaced by a value of another size: written packed, the bag itself left as it is.
		bag->SetLong8("replaced", 1);
		bag->SetString("replaced", text);
		ASSERT_TRUE(bag->GetAttributes().IsDirty());
		const Bytes bytes = Written(*bag, swap);
		EXPECT_TRUE(bag->GetAttributes().IsDirty());

		StBag again;
		ASSERT_EQ(Read(*again, bytes, swap), VE_OK);
		ASSERT_EQ(again->GetAttributesCount(), int32(values.size() + 1));
		VString replaced;
		EXPECT_TRUE(again->GetString("replaced", replaced));
		EXPECT_EQ(test::Text(replaced), test::Text(text));
		for (size_t i = 0; i < values.size(); ++i)
		{
			const VValueSingle* read = again->GetAttribute(("k" + std::to_string(i)).c_str());
			ASSERT_NE(read, nullptr) << i;
			EXPECT_EQ(read->GetValueInfo()->GetKind(), values[i]->GetValueInfo()->GetKind()) << i;
			EXPECT_EQ(Flat(*read), Flat(*values[i])) << i;
		}
		const VValueBag* tree = again->GetUniqueElementByPath(VString("tree"));
		ASSERT_NE(tree, nullptr);
		ASSERT_EQ(tree->GetElements("item")->GetCount(), 2);
		bool on = false;
		EXPECT_TRUE(tree->GetUniqueElementByPath(VString("item/leaf"))->GetBool("on", on));
		EXPECT_TRUE(on);
		int64 size = 0;
		EXPECT_TRUE(tree->GetLong8("size", size));
		EXPECT_EQ(size, 1234567890123);
		ExpectEveryKeyFound(*again);
		EXPECT_EQ(Written(*again, swap), bytes);
	}
}

TEST(VValueBagStreamTest, RefusedRecordsLeaveTheBagEmpty)
{
	const Bytes one = Record().Header().U8(1).U32(1).U32(2).U8(1).Text("a").U8(0).U32(3).U16(VK_LONG).U32(7).fBytes;
	struct Row
	{
		const char* fName;
		Bytes fBytes;
		VError fError;
	};
	Bytes badSignature = one;
	badSignature[0] = 'X';
	Record deep;
	deep.Header();
	for (int32 i = 0; i < 200000; ++i)
		deep.U8(2).U32(1).U32(2).U8(1).Text("e").U8(0).U32(1);
	deep.U8(0);
	const Row rows[] = {
		{"version 2", Record().U32(VValueBag::kSTREAM_SIGNATURE).U16(2).U16(0).U8(0).fBytes, VE_STREAM_BAD_VERSION},
		{"signature", badSignature, VE_STREAM_BAD_SIGNATURE},
		{"bag count negative", Record().Header().U8(2).U32(1).U32(2).U8(1).Text("e").U8(0).U32(0x80000000u).fBytes, VE_MEMORY_FULL},
		{"bag count beyond the data", Record().Header().U8(2).U32(1).U32(2).U8(1).Text("e").U8(0).U32(5).U8(0).fBytes, VE_STREAM_EOF},
		{"key count beyond the data", Record().Header().U8(1).U32(0x10000000u).U32(2).U8(1).Text("a").fBytes, VE_STREAM_EOF},
		{"key buffer beyond the data", Record().Header().U8(1).U32(1).U32(0xFFFFFFF0u).U8(1).Text("a").fBytes, VE_STREAM_EOF},
		{"keys end before the buffer", Record().Header().U8(1).U32(1).U32(3).U8(1).Text("ab").U8(0).U32(3).U16(VK_LONG).U32(7).fBytes, VE_STREAM_EOF},
		{"keys run past the buffer", Record().Header().U8(1).U32(2).U32(3).U8(1).Text("a").U8(5).U8(0).U32(3).U16(VK_LONG).U32(7).fBytes, VE_STREAM_EOF},
		{"index beyond the data", Record().Header().U8(1).U32(1).U32(2).U8(1).Text("a").U8(1).U32(0x40000000u).fBytes, VE_STREAM_EOF},
		{"words beyond the data", Record().Header().U8(1).U32(1).U32(2).U8(1).Text("a").U8(0).U32(0x7FFFFFFFu).U16(VK_LONG).fBytes, VE_STREAM_EOF},
		{"string longer than the words", Record().Header().U8(1).U32(1).U32(2).U8(1).Text("a").U8(0).U32(3).U16(VK_STRING).U32(0x7FFFFFFFu).fBytes, VE_STREAM_EOF},
		{"words left over", Record().Header().U8(1).U32(1).U32(2).U8(1).Text("a").U8(0).U32(4).U16(VK_LONG).U32(7).U16(0).fBytes, VE_STREAM_EOF},
#if !defined(__SANITIZE_THREAD__)
		// ThreadSanitizer records the whole stack of every allocation: at this depth that takes gigabytes.
		{"nested deeper than the stack", deep.fBytes, VE_STACK_OVERFLOW},
#endif
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		StBag bag;
		FillTree(*bag);
		EXPECT_EQ(Read(*bag, row.fBytes, false), row.fError);
		EXPECT_TRUE(bag->IsEmpty());
		EXPECT_EQ(Written(*bag, false), Record().Header().U8(0).fBytes);
	}

	// A stream already in error reads nothing and still empties the bag.
	StBag bag;
	FillTree(*bag);
	VConstPtrStream stream(one.data(), 2);
	stream.OpenReading();
	uint32 word = 0;
	EXPECT_EQ(stream.GetLong(word), VE_STREAM_EOF);
	EXPECT_EQ(bag->ReadFromStream(&stream), VE_STREAM_EOF);
	EXPECT_TRUE(bag->IsEmpty());
	stream.CloseReading();
	VTask::FlushErrors();
}

TEST(VValueBagStreamTest, CutOrCorruptedAtEveryByte)
{
	StBag tree;
	FillTree(*tree);
	VLong seven;
	seven.FromLong(7);
	StBag one;
	one->SetAttribute("a", seven);
	for (bool swap : {false, true})
	{
		for (const VValueBag* source : {tree.fBag, one.fBag})
		{
			const Bytes bytes = Written(*source, swap);
			for (size_t size = 0; size < bytes.size(); ++size)
			{
				StBag bag;
				EXPECT_NE(Read(*bag, bytes, swap, size), VE_OK) << size;
			}
			for (size_t at = 0; at < bytes.size(); ++at)
			{
				for (uint8 mask : {0x01, 0x80, 0xFF})
				{
					Bytes corrupt = bytes;
					corrupt[at] ^= mask;
					StBag bag;
					if (Read(*bag, corrupt, swap) != VE_OK)
						continue;
					ExpectEveryKeyFound(*bag);
					const Bytes again = Written(*bag, swap);
					StBag second;
					ASSERT_EQ(Read(*second, again, swap), VE_OK) << at;
					EXPECT_EQ(Written(*second, swap), again) << at;
				}
			}
		}
	}
}

TEST(VValueBagStreamTest, OlderLayoutIsRead)
{
	VLong seven;
	seven.FromLong(7);
	const VString text("older");
	StBag child;
	child->SetString("name", VString("child"));
	// kind: the kind word given to the second attribute; names: attribute names written.
	struct Row
	{
		const char* fName;
		uint32 fKind;
		int32 fNames;
		VError fError;
	};
	const Row rows[] = {
		{"whole", VK_STRING, 2, VE_OK},
		{"kind word with high bits", 0xABCD0000u | VK_STRING, 2, VE_OK},
		{"more values than names", VK_STRING, 1, VE_STREAM_EOF},
		{"a bag as an attribute", VK_BAG, 2, VE_STREAM_EOF},
	};
	for (bool swap : {false, true})
	{
		for (const Row& row : rows)
		{
			SCOPED_TRACE(row.fName);
			VPtrStream stream;
			stream.SetNeedSwap(swap);
			ASSERT_EQ(stream.OpenWriting(), VE_OK);
			VArrayString names;
			names.AppendString(VString("count"));
			if (row.fNames > 1)
				names.AppendString(VString("text"));
			names.WriteToStream(&stream);
			stream.PutLong(2);
			stream.PutLong(VK_LONG);
			seven.WriteToStream(&stream);
			stream.PutLong(int32(row.fKind));
			text.WriteToStream(&stream);
			VArrayString elements;
			elements.AppendString(VString("item"));
			elements.WriteToStream(&stream);
			stream.PutLong(1);
			stream.PutLong(1);
			child->WriteToStreamMinimal(&stream, true);
			stream.CloseWriting();
			const VStreamUnderlyingData data = stream.GetUnderlyingData();

			VConstPtrStream reading(data.fData, data.fSize);
			reading.SetNeedSwap(swap);
			reading.OpenReading();
			StBag bag;
			EXPECT_EQ(bag->_ReadFromStream_v1(&reading), row.fError);
			reading.CloseReading();
			VTask::FlushErrors();
			if (row.fError != VE_OK)
				continue;
			int64 count = 0;
			VString read;
			EXPECT_TRUE(bag->GetLong8("count", count));
			EXPECT_EQ(count, 7);
			EXPECT_TRUE(bag->GetString("text", read));
			EXPECT_EQ(test::Text(read), u"older");
			const VValueBag* item = bag->GetUniqueElementByPath(VString("item"));
			ASSERT_NE(item, nullptr);
			EXPECT_TRUE(item->GetString("name", read));
			EXPECT_EQ(test::Text(read), u"child");
		}
	}
}

}  // namespace
}  // namespace velk
