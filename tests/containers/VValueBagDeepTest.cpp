// Deep trees on a small task stack: every walk down a bag tree (copies, merges, sorting, the debug dump, the
// JSON and XML texts, the binary form) finishes on a shallow tree, finishes or stops cleanly with velk 108
// on a tree as deep as the bag reader accepts, and stops with velk 108 on a deeper one, leaving its outputs
// as it says. Trees of any depth are freed without recursion.
#include "containers/VValueBag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "common/VTaskWithStack.h"
#include "containers/VBagArray.h"
#include "containers/VBagTestHelpers.h"
#include "kernel/values/VConstPtrStream.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VPtrStream.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

using test::StBag;
using test::Text;

constexpr size_t kSMALL_STACK = size_t(1) << 20;

const StPackedDictionaryKey& NextKey()
{
	static const StPackedDictionaryKey sKey("e");
	return sKey;
}

const StPackedDictionaryKey& LeafKey()
{
	static const StPackedDictionaryKey sKey("z");
	return sKey;
}

template <class T>
void Put(test::Bytes& bytes, T value)
{
	const size_t at = bytes.size();
	bytes.resize(at + sizeof(value));
	std::memcpy(bytes.data() + at, &value, sizeof(value));
}

// The record of depth bags nested below the root, each the only bag of its parent's list "e".
test::Bytes ChainRecord(int32 depth)
{
	test::Bytes bytes;
	Put(bytes, VValueBag::kSTREAM_SIGNATURE);
	Put(bytes, VValueBag::kSTREAM_VERSION);
	Put(bytes, uint16(0));
	for (int32 level = 0; level < depth; ++level)
	{
		// Flags: elements; one key "e" without an index; a list of one bag.
		Put(bytes, uint8(2));
		Put(bytes, uint32(1));
		Put(bytes, uint32(2));
		Put(bytes, uint8(1));
		Put(bytes, uint8('e'));
		Put(bytes, uint8(0));
		Put(bytes, uint32(1));
	}
	Put(bytes, uint8(0));
	return bytes;
}

// The deepest chain the reader takes on the current task.
int32 DeepestRead()
{
	int32 reads = 1;
	int32 refused = 1 << 15;
	{
		StBag bag;
		EXPECT_EQ(test::Read(*bag, ChainRecord(refused), false), VE_STACK_OVERFLOW);
	}
	while (refused - reads > 1)
	{
		const int32 depth = reads + (refused - reads) / 2;
		StBag bag;
		(test::Read(*bag, ChainRecord(depth), false) == VE_OK ? reads : refused) = depth;
	}
	return reads;
}

// A chain of depth bags below the root, built without recursion: each level holds its depth in "n", an
// empty bag "z" (but without leaves) and, but the last, the next level as the only bag of "e". extra is set
// at every level too.
VValueBag* Chain(int32 depth, const char* extra = nullptr, bool leaves = true)
{
	VValueBag* root = new VValueBag();
	VValueBag* bag = root;
	for (int32 level = 0; level <= depth; ++level)
	{
		bag->SetLong8("n", level);
		if (extra != nullptr)
			bag->SetBool(extra, true);
		if (leaves)
			test::AddChild(*bag, "z");
		if (level < depth)
			bag = test::AddChild(*bag, "e");
	}
	return root;
}

// The depth of the chain below bag, a bag of the chain at level first; -1 when a level does not hold its
// level, or holds other than one bag in "e" or "z" (or lacks extra when given, or has a leaf without
// leaves).
int32 ChainDepth(const VValueBag& bag, const char* extra = nullptr, int32 first = 0, bool leaves = true)
{
	int32 depth = 0;
	bool flag = false;
	for (const VValueBag* at = &bag;; ++depth)
	{
		int64 n = -1;
		const VBagArray* leaf = at->GetElements(LeafKey());
		const bool leafAsBuilt = leaves ? leaf != nullptr && leaf->GetCount() == 1 : leaf == nullptr;
		if (!at->GetLong8("n", n) || n != first + depth || !leafAsBuilt)
			return -1;
		if (extra != nullptr && !at->GetBool(extra, flag))
			return -1;
		const VBagArray* next = at->GetElements(NextKey());
		if (next == nullptr)
			return depth;
		if (next->GetCount() != 1)
			return -1;
		at = next->_GetNth(1);
	}
}

size_t Count(const std::u16string& text, const std::u16string& part)
{
	size_t count = 0;
	for (size_t at = text.find(part); at != std::u16string::npos; at = text.find(part, at + 1))
		++count;
	return count;
}

struct Walk
{
	const char* fName;
	// Walks the chain of that depth, answering the walk's error: 0 once its whole result was checked,
	// velk 108 once the outputs were found as the walk leaves them when it stops.
	std::function<VError(VValueBag& chain, int32 depth)> fRun;
};

const StPackedDictionaryKey* const kNoKey = nullptr;
// "e" before "z" at every level.
const StBagElementsOrdering kOrderings[] = {
	{&NextKey(), {&NextKey(), &LeafKey(), kNoKey, kNoKey, kNoKey, kNoKey, kNoKey, kNoKey, kNoKey, kNoKey}},
	{kNoKey, {}},
};

const Walk kWalks[] = {
	{"Clone", [](VValueBag& chain, int32 depth) {
		 StErrorContextInstaller scope(false, true);
		 VValue* copy = chain.Clone();
		 if (copy == nullptr)
			 return scope.GetLastError();
		 VValueBag* bag = static_cast<VValueBag*>(copy);
		 EXPECT_EQ(ChainDepth(*bag), depth);
		 bag->Release();
		 return scope.GetLastError();
	 }},
	{"UnionClone", [](VValueBag& chain, int32 depth) {
		 StErrorContextInstaller scope(false, true);
		 StBag target;
		 const bool done = target->UnionClone(&chain);
		 EXPECT_EQ(done, scope.GetLastError() == VE_OK);
		 if (done)
		 {
			 EXPECT_EQ(ChainDepth(*target), depth);
		 }
		 return scope.GetLastError();
	 }},
	{"Override", [](VValueBag& chain, int32 depth) {
		 StErrorContextInstaller scope(false, true);
		 VValueBag* target = Chain(depth, "mine");
		 const bool done = target->Override(&chain);
		 EXPECT_EQ(done, scope.GetLastError() == VE_OK);
		 // Merged level by level: no list holds two bags afterwards, and each level keeps its own attribute.
		 if (done)
		 {
			 EXPECT_EQ(ChainDepth(*target, "mine"), depth);
		 }
		 target->Release();
		 return scope.GetLastError();
	 }},
	{"SortElements", [](VValueBag& chain, int32 depth) {
		 StErrorContextInstaller scope(false, true);
		 const bool done = chain.SortElements(NextKey(), kOrderings);
		 const VError error = scope.GetLastError();
		 EXPECT_EQ(done, error == VE_OK);
		 int32 sorted = 0;
		 VString name;
		 for (const VValueBag* at = &chain; at->GetNthElementName(1, &name) == at->GetElements(NextKey()) && at->GetElementNamesCount() == 2; ++sorted)
			 at = at->GetElements(NextKey())->_GetNth(1);
		 if (done)
		 {
			 EXPECT_EQ(sorted, depth);
		 }
		 else
		 {
			 EXPECT_LT(sorted, depth);
		 }
		 // Back in the order it was built in, for the walks after this one.
		 const StBagElementsOrdering back[] = {{&NextKey(), {&LeafKey(), &NextKey()}}, {kNoKey, {}}};
		 chain.SortElements(NextKey(), back);
		 return error;
	 }},
	{"DebugDump", [](VValueBag& chain, int32) {
		 StErrorContextInstaller scope(false, true);
		 VString dump;
		 chain.DebugDump(dump);
		 // Each level's dump is cut to a buffer: only the top of the tree shows.
		 EXPECT_EQ(Text(dump).rfind(u"n = 0\n=======\n1 z :\n--\n=======\n1 e :\n--\nn = 1\n", 0), 0u);
		 return scope.GetLastError();
	 }},
	{"GetJSONString", [](VValueBag& chain, int32 depth) {
		 StErrorContextInstaller scope(false, true);
		 VString json("left over");
		 const VError error = chain.GetJSONString(json);
		 EXPECT_EQ(error, scope.GetLastError());
		 if (error == VE_OK)
		 {
			 EXPECT_EQ(Count(Text(json), u"\"e\":[{\"n\":"), size_t(depth));
		 }
		 else
		 {
			 EXPECT_TRUE(json.IsEmpty());
		 }
		 return error;
	 }},
	{"DumpXML", [](VValueBag& chain, int32 depth) {
		 StErrorContextInstaller scope(false, true);
		 VString xml("<?xml?>");
		 chain.DumpXML(xml, VString("bag"), true);
		 if (scope.GetLastError() == VE_OK)
		 {
			 EXPECT_EQ(Count(Text(xml), u"<e n=\""), size_t(depth));
		 }
		 else
		 {
			 EXPECT_EQ(Text(xml), u"<?xml?>");
		 }
		 return scope.GetLastError();
	 }},
	{"WriteToStream", [](VValueBag& chain, int32 depth) {
		 StErrorContextInstaller scope(false, true);
		 VPtrStream stream;
		 EXPECT_EQ(stream.OpenWriting(), VE_OK);
		 const VError error = chain.WriteToStream(&stream);
		 stream.CloseWriting();
		 if (error != VE_OK)
			 return error;
		 const VStreamUnderlyingData data = stream.GetUnderlyingData();
		 const uint8* bytes = static_cast<const uint8*>(data.fData);
		 StBag again;
		 const VError read = test::Read(*again, test::Bytes(bytes, bytes + data.fSize), false);
		 // The reader's own frames decide whether it takes what the writer could write.
		 if (read == VE_OK)
		 {
			 EXPECT_EQ(ChainDepth(*again), depth);
		 }
		 else
		 {
			 EXPECT_EQ(read, VE_STACK_OVERFLOW);
		 }
		 return error;
	 }},
};

TEST(VValueBagDeepTest, EveryWalkFinishesOrStopsWithinASmallStack)
{
#if defined(__SANITIZE_THREAD__)
	// ThreadSanitizer records the whole stack of every allocation: walks this deep cost it hundreds of MB.
	GTEST_SKIP() << "no deep walks under ThreadSanitizer";
#endif
	// The chain the reader takes at its deepest on a small stack, read there from a record written here.
	int32 deepest = 0;
	test::RunOnTaskWithStack(kSMALL_STACK, [&] { deepest = DeepestRead(); });
	ASSERT_GT(deepest, 100);
	VValueBag* written = Chain(deepest);
	const test::Bytes record = test::Written(*written, false);
	written->Release();
	VValueBag* read = new VValueBag();
	test::RunOnTaskWithStack(kSMALL_STACK, [&] {
		// The chain's attributes and leaves take no stack of the reader's: it reads as deep as the bare chain.
		ASSERT_EQ(test::Read(*read, record, false), VE_OK);
	});
	ASSERT_EQ(ChainDepth(*read), deepest);

	struct Tree
	{
		const char* fName;
		VValueBag* fChain;
		int32 fDepth;
		// The walks' answers: 0 always, 0 or velk 108, velk 108 always.
		bool fMayStop;
		bool fMustStop;
	};
	const Tree trees[] = {
		{"shallow", Chain(20), 20, false, false},
		{"as deep as the reader takes", read, deepest, true, false},
		{"deeper than the stack", Chain(4 * deepest), 4 * deepest, true, true},
	};
	for (const Tree& tree : trees)
	{
		SCOPED_TRACE(tree.fName);
		for (const Walk& walk : kWalks)
		{
			SCOPED_TRACE(walk.fName);
			VError error = VE_OK;
			test::RunOnTaskWithStack(kSMALL_STACK, [&] { error = walk.fRun(*tree.fChain, tree.fDepth); });
			if (tree.fMustStop)
			{
				EXPECT_EQ(error, VE_STACK_OVERFLOW);
			}
			else if (tree.fMayStop)
			{
				EXPECT_TRUE(error == VE_OK || error == VE_STACK_OVERFLOW) << std::hex << error;
			}
			else
			{
				EXPECT_EQ(error, VE_OK);
			}
			// The walk left the tree whole.
			EXPECT_EQ(ChainDepth(*tree.fChain), tree.fDepth);
		}
	}
	// Released on a small stack too.
	test::RunOnTaskWithStack(kSMALL_STACK, [&] {
		for (const Tree& tree : trees)
			tree.fChain->Release();
	});
}

TEST(VValueBagDeepTest, TreesOfAnyDepthAreFreedOnASmallStack)
{
	// Far more levels than a recursive release could take on that stack.
	constexpr int32 kDepth = 10000;
	test::RunOnTaskWithStack(kSMALL_STACK, [] {
		// A bag of the tree that is held elsewhere outlives the release, with the tree below it; so does a
		// list that another bag holds too.
		VValueBag* chain = Chain(kDepth, nullptr, false);
		VValueBag* middle = chain;
		for (int32 level = 0; level < kDepth / 2; ++level)
			middle = middle->GetElements(NextKey())->_GetNth(1);
		middle->Retain();
		VBagArray* shared = middle->GetElements(NextKey())->_GetNth(1)->GetElements(NextKey());
		StBag other;
		other->SetElements(NextKey(), shared);
		chain->Release();
		EXPECT_EQ(ChainDepth(*middle, nullptr, kDepth / 2, false), kDepth / 2);
		middle->Release();
		EXPECT_EQ(ChainDepth(*other->GetElements(NextKey())->_GetNth(1), nullptr, kDepth / 2 + 2, false), kDepth / 2 - 2);

		// Destroy frees the tree the same way, and so does a read that replaces the element dictionary.
		VValueBag* emptied = Chain(kDepth, nullptr, false);
		emptied->Destroy();
		EXPECT_TRUE(emptied->IsEmpty());
		emptied->Release();
		VValueBag* replaced = Chain(kDepth, nullptr, false);
		const test::Bytes record = ChainRecord(3);
		// The minimal form, past the record's 8-byte header.
		VConstPtrStream stream(record.data() + 8, int64(record.size() - 8));
		stream.OpenReading();
		EXPECT_EQ(replaced->ReadFromStreamMinimal(&stream), VE_OK);
		stream.CloseReading();
		int32 levels = 0;
		for (const VValueBag* at = replaced; at->GetElements(NextKey()) != nullptr; ++levels)
			at = at->GetElements(NextKey())->_GetNth(1);
		EXPECT_EQ(levels, 3);
		int64 n = -1;
		EXPECT_TRUE(replaced->GetLong8("n", n)) << "the attributes stay: the form announces none";
		replaced->Release();
	});
}

}  // namespace
// JSON text read into a bag, nested nearly as deep as the text reader allows, on tasks with small stacks: either
// the whole tree or velk 108, never an overflow.
TEST(VValueBagDeepTest, JSONTextReadOnSmallStacks)
{
	struct Row
	{
		size_t stack;
		int depth;
	};
	const Row rows[] = {{64 * 1024, 250}, {128 * 1024, 250}, {512 * 1024, 250}, {128 * 1024, 100}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << row.depth << " levels on " << row.stack / 1024 << " KiB");
		std::string text;
		for (int i = 0; i < row.depth; ++i)
			text += "{\"e\":";
		text += "{\"leaf\":1}";
		text.append(size_t(row.depth), '}');
		VError error = VE_OK;
		bool stackStop = false;
		int32 depth = -1;
		test::RunOnTaskWithStack(row.stack, [&] {
			StErrorContextInstaller scope(false, true);
			VRefPtr<VValueBag> bag(new VValueBag, true);
			error = bag->FromJSONString(VString(text.c_str()));
			stackStop = scope.Find(VE_STACK_OVERFLOW) != nullptr;
			if (error != VE_OK)
				return;
			depth = 0;
			const VValueBag* at = bag.Get();
			while (at != nullptr && at->GetElementNamesCount() > 0)
			{
				VString name;
				at = at->GetUniqueElementAnyKind(name);
				++depth;
			}
		});
		if (error == VE_OK)
		{
			EXPECT_EQ(depth, row.depth);
		}
		else
		{
			EXPECT_TRUE(stackStop) << std::hex << error;
		}
		// The largest stack holds the whole tree.
		if (row.stack >= 512 * 1024)
		{
			EXPECT_EQ(error, VE_OK);
		}
	}
}

}  // namespace velk
