// Cycle groups: containers that hold each other are freed together once nothing outside holds them, and
// not a moment before; removing the last outside link to a cycle frees it while its former owner lives.

#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/VFailingAllocations.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONGraph.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VStorageLocker.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// An implementation that only counts the objects alive that carry one.
class Counted : public VObject, public IJSONObject
{
public:
	Counted() { ++sAlive; }
	~Counted() override { --sAlive; }
	// Objects may die on other tasks.
	static std::atomic<int> sAlive;
};
std::atomic<int> Counted::sAlive{0};

VJSONValue NewObject(bool shared = false)
{
	Counted* counted = new Counted;
	VJSONValue value;
	VJSONObject* object = new VJSONObject(nullptr, counted, shared);
	value.SetObject(object);
	object->Release();
	counted->Release();
	return value;
}

VJSONValue NewArray()
{
	return VJSONValue(JSON_array);
}

void Set(const VJSONValue& owner, const char* name, const VJSONValue& value)
{
	ASSERT_TRUE(owner.GetObject()->SetProperty(VString(name), value));
}

// Each row builds containers, hands over the references it keeps from outside, and says how many
// counted objects must be alive after each of those references is dropped in turn.
TEST(VJSONGraph, CyclesAreFreedWithTheirLastOutsideReference)
{
	struct Row
	{
		const char* name;
		std::function<void(std::vector<VJSONValue>&)> build;
		std::vector<int> aliveAfterEachRelease;
	};
	const Row rows[] = {
		{"object holding itself",
			[](std::vector<VJSONValue>& outside) {
				VJSONValue o = NewObject();
				Set(o, "self", o);
				outside = {o};
			},
			{0}},
		{"two objects holding each other, first released first",
			[](std::vector<VJSONValue>& outside) {
				VJSONValue a = NewObject(), b = NewObject();
				Set(a, "x", b);
				Set(b, "y", a);
				outside = {a, b};
			},
			{2, 0}},
		{"two objects holding each other, second released first",
			[](std::vector<VJSONValue>& outside) {
				VJSONValue a = NewObject(), b = NewObject();
				Set(a, "x", b);
				Set(b, "y", a);
				outside = {b, a};
			},
			{2, 0}},
		{"array holding itself and an object",
			[](std::vector<VJSONValue>& outside) {
				VJSONValue list = NewArray();
				ASSERT_TRUE(list.GetArray()->Push(list));
				ASSERT_TRUE(list.GetArray()->Push(NewObject()));
				outside = {list};
			},
			{0}},
		{"three containers in a ring through an array",
			[](std::vector<VJSONValue>& outside) {
				VJSONValue a = NewObject(), b = NewObject(), c = NewObject(), list = NewArray();
				ASSERT_TRUE(list.GetArray()->Push(b));
				Set(a, "list", list);
				Set(b, "c", c);
				Set(c, "back", a);
				outside = {a};
			},
			{0}},
		{"cycle below a tree, tree released last",
			[](std::vector<VJSONValue>& outside) {
				VJSONValue root = NewObject(), c = NewObject();
				Set(c, "self", c);
				Set(root, "x", c);
				outside = {c, root};
			},
			{2, 0}},
		{"two groups merged by one link",
			[](std::vector<VJSONValue>& outside) {
				VJSONValue a = NewObject(), b = NewObject(), c = NewObject(), d = NewObject();
				Set(a, "x", b);
				Set(b, "x", a);
				Set(c, "y", d);
				Set(d, "y", c);
				Set(a, "z", c);
				outside = {c, a};
			},
			{4, 0}},
		{"shared object holding itself",
			[](std::vector<VJSONValue>& outside) {
				VJSONValue o = NewObject(true);
				VJSONUser user(o, false);
				Set(o, "self", o);
				EXPECT_TRUE(o.GetObject()->GetGraph()->IsShared());
				outside = {o};
			},
			{0}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		ASSERT_EQ(Counted::sAlive, 0);
		std::vector<VJSONValue> outside;
		row.build(outside);
		ASSERT_EQ(outside.size(), row.aliveAfterEachRelease.size());
		for (size_t i = 0; i < outside.size(); ++i)
		{
			outside[i].SetNull();
			EXPECT_EQ(Counted::sAlive, row.aliveAfterEachRelease[i]) << "after release " << i;
		}
		Counted::sAlive = 0;
	}
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

// The owner keeps living while the change drops its only link to a cycle: the cycle goes at once.
TEST(VJSONGraph, DroppingTheLinkToACycleFreesIt)
{
	struct Row
	{
		const char* name;
		bool inArray;
		std::function<void(const VJSONValue& owner)> drop;
	};
	const Row rows[] = {
		{"RemoveProperty", false, [](const VJSONValue& owner) { owner.GetObject()->RemoveProperty(VString("x")); }},
		{"SetProperty over it", false, [](const VJSONValue& owner) { Set(owner, "x", VJSONValue(1.0)); }},
		{"SetProperty undefined", false, [](const VJSONValue& owner) { Set(owner, "x", VJSONValue(JSON_undefined)); }},
		{"Clear", false, [](const VJSONValue& owner) { owner.GetObject()->Clear(); }},
		{"RemoveAt", true, [](const VJSONValue& owner) { owner.GetArray()->RemoveAt(0); }},
		{"SetAt over it", true, [](const VJSONValue& owner) { ASSERT_TRUE(owner.GetArray()->SetAt(0, VJSONValue(JSON_null))); }},
		{"Resize to 0", true, [](const VJSONValue& owner) { ASSERT_TRUE(owner.GetArray()->Resize(0, JSON_null)); }},
		{"array Clear", true, [](const VJSONValue& owner) { owner.GetArray()->Clear(); }},
		{"SwapValues", true,
			[](const VJSONValue& owner) {
				std::vector<VJSONValue> values{VJSONValue(2.0)};
				ASSERT_TRUE(owner.GetArray()->SwapValues(values));
			}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		ASSERT_EQ(Counted::sAlive, 0);
		// The owner holds itself too, so that it is freed only if its group's counts are still right after the
		// cycle it held has gone.
		VJSONValue owner = row.inArray ? NewArray() : NewObject();
		{
			VJSONValue a = NewObject(), b = NewObject();
			Set(a, "next", b);
			Set(b, "next", a);
			if (row.inArray)
			{
				ASSERT_TRUE(owner.GetArray()->Push(a));
				ASSERT_TRUE(owner.GetArray()->Push(owner));
			}
			else
			{
				Set(owner, "x", a);
				Set(owner, "me", owner);
			}
		}
		const int withCycle = row.inArray ? 2 : 3;
		ASSERT_EQ(Counted::sAlive, withCycle);
		row.drop(owner);
		EXPECT_EQ(Counted::sAlive, withCycle - 2);
		owner.SetNull();
		EXPECT_EQ(Counted::sAlive, 0);
		Counted::sAlive = 0;
	}
}

// The counts the group keeps: members, references between members, and the cycle mark.
TEST(VJSONGraph, CountsFollowLinksAndUnlinks)
{
	VJSONValue owner = NewObject();
	VJSONValue list = NewArray();
	Set(owner, "a", list);
	Set(owner, "b", list);
	VJSONGraph* graph = owner.GetObject()->GetGraph();
	ASSERT_NE(graph, nullptr);
	EXPECT_EQ(list.GetArray()->GetGraph(), graph);
	EXPECT_EQ(graph->GetObjectCount(), 1u);
	EXPECT_EQ(graph->GetArrayCount(), 1u);
	EXPECT_EQ(graph->GetInternal(), 2);
	EXPECT_EQ(list.GetArray()->GetInternalRefCount(), 2u);
	// Outside: owner and list, one each; inside: the two properties.
	EXPECT_EQ(graph->GetTotal(), 4);
	owner.GetObject()->RemoveProperty(VString("a"));
	EXPECT_EQ(graph->GetInternal(), 1);
	EXPECT_EQ(list.GetArray()->GetInternalRefCount(), 1u);
	EXPECT_EQ(graph->GetTotal(), 3);

	// A tree never marks a cycle, so releases never walk the group.
	VJSONValue root = NewObject();
	VJSONValue child = NewObject();
	Set(child, "leaf", NewArray());
	Set(root, "child", child);
	EXPECT_FALSE(root.GetObject()->GetGraph()->HasCycle());
	EXPECT_EQ(root.GetObject()->GetGraph(), child.GetObject()->GetGraph());
	Set(child, "up", root);
	EXPECT_TRUE(root.GetObject()->GetGraph()->HasCycle());
}

// The vector form of collecting: every container reachable once, every reference met counted, and whether
// some container was met again (a cycle or a part shared inside the tree).
TEST(VJSONGraph, CollectingWhatAContainerReaches)
{
	struct Row
	{
		const char* name;
		std::function<VJSONValue()> build;
		size_t objects;
		size_t arrays;
		int64 visits;
		bool seenTwice;
	};
	const Row rows[] = {
		{"tree",
			[] {
				VJSONValue root = NewObject(), list = NewArray();
				Set(root, "a", NewObject());
				EXPECT_TRUE(list.GetArray()->Push(NewObject()));
				Set(root, "b", list);
				return root;
			},
			3, 1, 4, false},
		{"array under two names",
			[] {
				VJSONValue root = NewObject(), list = NewArray();
				Set(root, "a", list);
				Set(root, "b", list);
				return root;
			},
			1, 1, 3, true},
		{"object holding itself",
			[] {
				VJSONValue root = NewObject();
				Set(root, "self", root);
				return root;
			},
			1, 0, 2, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VJSONValue root = row.build();
		std::vector<VJSONObject*> objects;
		std::vector<VJSONArray*> arrays;
		int64 visits = 0;
		bool seenTwice = false;
		VJSONGraph::CollectObjectReferences(root.GetObject(), objects, arrays, visits, seenTwice);
		EXPECT_EQ(objects.size(), row.objects);
		EXPECT_EQ(arrays.size(), row.arrays);
		EXPECT_EQ(visits, row.visits);
		EXPECT_EQ(seenTwice, row.seenTwice);
		EXPECT_EQ(objects.front(), root.GetObject());
		root.GetObject()->ClearInternalProperties();
		root.SetNull();
		EXPECT_EQ(Counted::sAlive, 0);
		Counted::sAlive = 0;
	}
}

// Trees the parser, the binary reader and the deep copy build hold their containers without a group (none can
// hold a cycle yet); a link made into them later brings in every container below, so that a cycle made then
// is freed with its last outside reference, and a tree shared twice is counted right.
TEST(VJSONGraph, TreesBuiltWithoutGroupsJoinOneWhenLinked)
{
	auto parse = [](const char* text) {
		VJSONValue value;
		EXPECT_EQ(value.ParseFromString(VString(text)), VE_OK);
		return value;
	};
	auto binaryCopy = [](const VJSONValue& value) {
		VJSONBinaryWriter::Buffer bytes;
		VJSONBinaryWriter writer(0);
		EXPECT_EQ(writer.StreamValue(value, bytes), VE_OK);
		VJSONBinaryImporter importer(bytes.GetDataPtr(), size_t(bytes.GetDataSize()));
		VJSONValue back;
		EXPECT_EQ(importer.GetValue(back), VE_OK);
		return back;
	};
	auto deepCopy = [](const VJSONValue& value) {
		VJSONValue copy = value;
		VJSONCloner cloner;
		EXPECT_EQ(cloner.CloneValue(copy), VE_OK);
		return copy;
	};
	struct Row
	{
		const char* name;
		std::function<VJSONValue()> build;
	};
	const Row rows[] = {
		{"deepest object of a parsed tree holding the root",
			[&] {
				VJSONValue root = parse(R"({"a":{"b":{"c":[1,{"d":{}}]}},"e":[[],{}]})");
				VJSONValue deepest = root.GetProperty(VString("a")).GetProperty(VString("b")).GetProperty(VString("c"));
				deepest.GetArray()->GetAt(1).GetObject()->SetProperty(VString("up"), root);
				return root;
			}},
		{"parsed subtree stored twice, then once taken back",
			[&] {
				VJSONValue root = parse(R"({"a":{"b":[{"c":1}]},"f":{}})");
				const VJSONValue shared = root.GetProperty(VString("a"));
				root.GetProperty(VString("f")).SetProperty(VString("again"), shared);
				root.GetObject()->RemoveProperty(VString("a"));
				return root;
			}},
		{"binary copy of a tree holding itself",
			[&] {
				VJSONValue root = parse(R"({"a":[{"b":{}}]})");
				root.GetProperty(VString("a")).GetArray()->GetAt(0).SetProperty(VString("root"), root);
				VJSONValue copy = binaryCopy(root);
				root.GetObject()->Clear();
				return copy;
			}},
		{"deep copy of a tree holding itself",
			[&] {
				VJSONValue root = parse(R"({"a":[{"b":{}},[]]})");
				root.GetProperty(VString("a")).GetArray()->GetAt(1).GetArray()->Push(root);
				VJSONValue copy = deepCopy(root);
				root.GetObject()->Clear();
				return copy;
			}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VJSONObject::sTaskCounter = 0;
		VJSONArray::sTaskCounter = 0;
		VJSONObject::sTaskToMonitor = VTask::GetCurrentID();
		VJSONArray::sTaskToMonitor = VTask::GetCurrentID();
		{
			VJSONValue root = row.build();
			EXPECT_GT(VJSONObject::sTaskCounter + VJSONArray::sTaskCounter, 0);
		}
		EXPECT_EQ(VJSONObject::sTaskCounter + VJSONArray::sTaskCounter, 0);
		VJSONObject::sTaskToMonitor = 0;
		VJSONArray::sTaskToMonitor = 0;
	}
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

// A link whose group or slot cannot be allocated leaves both containers as they were.
TEST(VJSONGraph, RefusedLinksChangeNothing)
{
	// The error stack exists before allocations are refused.
	_ThrowError(VE_UNKNOWN_ERROR);
	VTask::FlushErrors();
	int failures = 0;
	bool stored = false;
	for (long allowed = 0; !stored && allowed < 100; ++allowed)
	{
		ASSERT_EQ(Counted::sAlive, 0);
		VJSONValue a = NewObject(), b = NewObject();
		{
			test::StFailingAllocations failing(allowed);
			stored = a.GetObject()->SetProperty(VString("b"), b) && b.GetObject()->SetProperty(VString("a"), a);
		}
		if (!stored)
		{
			++failures;
			EXPECT_EQ(VTask::GetLastError(), VE_MEMORY_FULL);
			EXPECT_FALSE(b.GetObject()->HasOwnProperty(VString("a")));
			if (!a.GetObject()->HasOwnProperty(VString("b")))
			{
				EXPECT_EQ(b.GetObject()->GetInternalRefCount(), 0u);
			}
			VTask::FlushErrors();
		}
		a.SetNull();
		b.SetNull();
		EXPECT_EQ(Counted::sAlive, 0);
		Counted::sAlive = 0;
	}
	EXPECT_TRUE(stored);
	EXPECT_GT(failures, 0);
}

// A cycle whose last two outside references two tasks drop at the same moment is freed every time: telling
// whether the reference dropped is the last one from outside and counting it down are one step, so the
// second of the two sees the first one's drop.
TEST(VJSONGraph, CyclesDroppedByTwoTasksAtOnceAreFreed)
{
	constexpr int kRounds = 10000;
	constexpr int32 kForever = 600000;  // longer than the test's time limit: reaching it is a failure
	struct Row
	{
		const char* name;
		// Builds one cycle, unshared, and hands over the reference each task holds.
		std::function<std::array<VJSONValue, 2>()> build;
	};
	const Row rows[] = {
		{"object holding itself",
			[] {
				VJSONValue object = NewObject();
				Set(object, "self", object);
				return std::array<VJSONValue, 2>{object, object};
			}},
		{"array holding itself and a counted object",
			[] {
				VJSONValue array = NewArray();
				EXPECT_TRUE(array.GetArray()->Push(array));
				EXPECT_TRUE(array.GetArray()->Push(NewObject()));
				return std::array<VJSONValue, 2>{array, array};
			}},
		{"two objects holding each other, one dropped by each task",
			[] {
				VJSONValue a = NewObject(), b = NewObject();
				Set(a, "x", b);
				Set(b, "y", a);
				return std::array<VJSONValue, 2>{a, b};
			}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		ASSERT_EQ(Counted::sAlive.load(), 0);
		std::vector<std::array<VJSONValue, 2>> held;
		held.reserve(kRounds);
		for (int round = 0; round < kRounds; ++round)
			held.push_back(row.build());
		ASSERT_GE(Counted::sAlive.load(), kRounds);
		std::atomic<int> arrived{0};
		VTask* tasks[2];
		for (int side = 0; side < 2; ++side)
		{
			tasks[side] = new VTask(0, eTaskStylePreemptive, [&held, &arrived, side] {
				for (int round = 0; round < kRounds; ++round)
				{
					// Both tasks wait for each other, then drop their references to the round's cycle together.
					arrived.fetch_add(1);
					while (arrived.load() < 2 * (round + 1))
						std::this_thread::yield();
					held[size_t(round)][size_t(side)].SetNull();
				}
			});
		}
		for (VTask* task : tasks)
			ASSERT_TRUE(task->Run());
		for (VTask* task : tasks)
		{
			EXPECT_TRUE(task->WaitForDeath(kForever));
			task->Release();
		}
		EXPECT_EQ(Counted::sAlive.load(), 0);
		Counted::sAlive = 0;
	}
}

}  // namespace
}  // namespace velk
