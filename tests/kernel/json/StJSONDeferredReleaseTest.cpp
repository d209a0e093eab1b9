// Trees far deeper than any text can hold, built in code: releasing them frees every container without
// exhausting the stack, and the walks that recurse refuse them with velk 108 instead of crashing.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

constexpr int kLevels = 100000;

// Counts the objects and arrays made and freed on this task while it lives.
class StCountContainers
{
public:
	StCountContainers()
	{
		VJSONObject::sTaskCounter = 0;
		VJSONArray::sTaskCounter = 0;
		VJSONObject::sTaskToMonitor = VTask::GetCurrentID();
		VJSONArray::sTaskToMonitor = VTask::GetCurrentID();
	}
	~StCountContainers()
	{
		VJSONObject::sTaskToMonitor = 0;
		VJSONArray::sTaskToMonitor = 0;
	}
	int Alive() const { return VJSONObject::sTaskCounter + VJSONArray::sTaskCounter; }
};

// The container holding the next level: an array (pushed) or an object (property "next").
void Link(const VJSONValue& owner, const VJSONValue& child)
{
	if (owner.IsArray())
		ASSERT_TRUE(owner.GetArray()->Push(child));
	else
		ASSERT_TRUE(owner.GetObject()->SetProperty(VString("next"), child));
}

// kLevels containers, each holding the next: arrays, objects or both in turn; linked from the root down or
// from the deepest up.
VJSONValue BuildChain(JSONType first, bool alternate, bool fromTheTop)
{
	auto kindAt = [&](int level) { return alternate && level % 2 == 1 ? (first == JSON_array ? JSON_object : JSON_array) : first; };
	if (fromTheTop)
	{
		VJSONValue root(kindAt(0));
		VJSONValue current = root;
		for (int level = 1; level < kLevels; ++level)
		{
			VJSONValue child(kindAt(level));
			Link(current, child);
			current = std::move(child);
		}
		return root;
	}
	VJSONValue current(kindAt(kLevels - 1));
	for (int level = kLevels - 2; level >= 0; --level)
	{
		VJSONValue owner(kindAt(level));
		Link(owner, current);
		current = std::move(owner);
	}
	return current;
}

TEST(StJSONDeferredRelease, DeepTreesAreFreedAndWalksRefuseThem)
{
	struct Row
	{
		const char* name;
		std::function<VJSONValue()> build;
	};
	const Row rows[] = {
		{"arrays from the top", [] { return BuildChain(JSON_array, false, true); }},
		{"arrays from the bottom", [] { return BuildChain(JSON_array, false, false); }},
		{"objects from the top", [] { return BuildChain(JSON_object, false, true); }},
		{"objects from the bottom", [] { return BuildChain(JSON_object, false, false); }},
		{"objects and arrays in turn", [] { return BuildChain(JSON_object, true, true); }},
		{"deepest object holding the root",
			[] {
				VJSONValue root = BuildChain(JSON_object, false, true);
				VJSONValue deepest = root;
				while (deepest.GetProperty(VString("next")).IsObject())
					deepest = deepest.GetProperty(VString("next"));
				deepest.SetProperty(VString("root"), root);
				return root;
			}},
		{"arrays put under a shared object's locker and stamp",
			[] {
				VJSONValue owner(JSON_object);
				owner.GetObject()->SetStorageLocker(VRefPtr<VStorageLocker>(new VStorageLocker, true).Get());
				owner.GetObject()->SetJSONStamp(VRefPtr<VJSONStamp>(new VJSONStamp, true).Get());
				VJSONValue chain = BuildChain(JSON_array, false, true);
				VJSONUser user(owner, false);
				owner.GetObject()->MakeValueSharedIfNecessary(chain);
				EXPECT_TRUE(owner.GetObject()->SetProperty(VString("chain"), chain));
				EXPECT_EQ(chain.GetArray()->GetAt(0).GetArray()->GetStorageLocker(), owner.GetObject()->GetStorageLocker());
				EXPECT_EQ(chain.GetArray()->GetAt(0).GetArray()->GetJSONStampPointer(), owner.GetObject()->GetJSONStampPointer());
				return owner;
			}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VTask::FlushErrors();
		StCountContainers counting;
		{
			VJSONValue tree = row.build();
			ASSERT_GE(counting.Alive(), kLevels);
			ASSERT_EQ(VTask::GetLastError(), VE_OK);

			VJSONValue copy = tree;
			VJSONCloner cloner;
			EXPECT_EQ(cloner.CloneValue(copy), VE_STACK_OVERFLOW);
			VString text;
			EXPECT_EQ(tree.Stringify(text), VE_STACK_OVERFLOW);
			VJSONBinaryWriter::Buffer bytes;
			VJSONBinaryWriter binary(0);
			EXPECT_EQ(binary.StreamValue(tree, bytes), VE_STACK_OVERFLOW);
			if (tree.IsArray())
			{
				EXPECT_EQ(tree.GetString(text), VE_STACK_OVERFLOW);
			}
			VTask::FlushErrors();
			const VJSONValue other = row.build();
			EXPECT_FALSE(tree.DeepEqualTo(other, VCompareOptions()));
			EXPECT_EQ(VTask::GetLastError(), VE_STACK_OVERFLOW);
			VTask::FlushErrors();
		}
		EXPECT_EQ(counting.Alive(), 0);
	}
}

// An implementation that counts the objects alive that carry one.
class Counted : public VObject, public IJSONObject
{
public:
	Counted() { ++sAlive; }
	~Counted() override { --sAlive; }
	static std::atomic<int> sAlive;
};
std::atomic<int> Counted::sAlive{0};

VJSONValue CountedObject()
{
	Counted* counted = new Counted;
	VJSONValue value;
	value.SetObject(VRefPtr<VJSONObject>(new VJSONObject(nullptr, counted, false), true).Get());
	counted->Release();
	return value;
}

// A tree freed while its thread ends, by a holder of the thread's own made before the thread first freed a
// tree, is freed whole: the release keeps nothing of the thread's that may be gone by then.
TEST(StJSONDeferredRelease, TreesFreedWhileTheirThreadEnds)
{
	struct Holder
	{
		VJSONValue fTree;
	};
	std::thread([] {
		thread_local Holder holder;
		holder.fTree = VJSONValue(JSON_array);
		VJSONValue inner(JSON_array);
		ASSERT_TRUE(inner.GetArray()->Push(CountedObject()));
		ASSERT_TRUE(holder.fTree.GetArray()->Push(inner));
		ASSERT_TRUE(holder.fTree.GetArray()->Push(CountedObject()));
		// A first release on this thread, after the holder was made.
		VJSONValue freedNow(JSON_array);
		ASSERT_TRUE(freedNow.GetArray()->Push(CountedObject()));
	}).join();
	EXPECT_EQ(Counted::sAlive.load(), 0);
}

// Shallower trees are walked as before: the bound lies at the depth the parser reads.
TEST(StJSONDeferredRelease, WalksReachTheParsersDepth)
{
	VTask::FlushErrors();
	VString text;
	for (uint32 i = 0; i < kJSONMaxNestingDepth; ++i)
		text.AppendUniChar(u'[');
	for (uint32 i = 0; i < kJSONMaxNestingDepth; ++i)
		text.AppendUniChar(u']');
	VJSONValue tree;
	ASSERT_EQ(tree.ParseFromString(text), VE_OK);
	VJSONValue copy = tree;
	VJSONCloner cloner;
	EXPECT_EQ(cloner.CloneValue(copy), VE_OK);
	EXPECT_TRUE(tree.DeepEqualTo(copy, VCompareOptions()));
	VString written;
	EXPECT_EQ(copy.Stringify(written), VE_OK);
	EXPECT_TRUE(written.EqualToStringRaw(text));
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

}  // namespace
}  // namespace velk
