// Trees far deeper than any text can hold, built in code: releasing them frees every container without
// exhausting the stack, and the walks that recurse refuse them with velk 108 instead of crashing, also on
// tasks with small stacks, where they stop at the free stack left rather than at the nesting bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONPointerResolver.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/json/VJSONWriter.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorContext.h"
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

// levels containers, each holding the next: arrays, objects or both in turn; linked from the root down or
// from the deepest up.
VJSONValue BuildChain(JSONType first, bool alternate, bool fromTheTop, int levels = kLevels)
{
	auto kindAt = [&](int level) { return alternate && level % 2 == 1 ? (first == JSON_array ? JSON_object : JSON_array) : first; };
	if (fromTheTop)
	{
		VJSONValue root(kindAt(0));
		VJSONValue current = root;
		for (int level = 1; level < levels; ++level)
		{
			VJSONValue child(kindAt(level));
			Link(current, child);
			current = std::move(child);
		}
		return root;
	}
	VJSONValue current(kindAt(levels - 1));
	for (int level = levels - 2; level >= 0; --level)
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

// Runs body on a task of its own with a stack of that size and waits for its end.
void RunOnTaskWithStack(size_t stackSize, std::function<void()> body)
{
	constexpr int32 kForever = 600000;  // longer than the test's time limit: reaching it is a failure
	VTask* task = new VTask(stackSize, eTaskStylePreemptive, std::move(body));
	ASSERT_TRUE(task->Run());
	EXPECT_TRUE(task->WaitForDeath(kForever));
	task->Release();
}

const VString kNext("next");

// The container below one of a chain (element 0 or property "next"), or undefined.
VJSONValue Next(const VJSONValue& value)
{
	if (value.IsObject())
		return value.GetProperty(kNext);
	return value.IsArray() && value.GetArray()->GetCount() > 0 ? value.GetArray()->GetAt(0) : VJSONValue();
}

// How many containers deep a chain goes.
int Depth(VJSONValue value)
{
	int depth = 0;
	for (; value.IsArray() || value.IsObject(); value = Next(value))
		++depth;
	return depth;
}

// The deepest container of a chain.
VJSONValue Deepest(VJSONValue value)
{
	for (VJSONValue next = Next(value); next.IsObject() || next.IsArray(); next = Next(value))
		value = next;
	return value;
}

// The compact text of BuildChain's tree: arrays "[...]" and objects {"next":...}, the deepest one empty.
std::string ChainText(JSONType first, bool alternate, int levels)
{
	std::string open;
	std::string close;
	for (int level = 0; level < levels; ++level)
	{
		const bool array = (first == JSON_array) != (alternate && level % 2 == 1);
		open += array ? "[" : level + 1 < levels ? "{\"next\":" : "{";
		close += array ? ']' : '}';
	}
	std::reverse(close.begin(), close.end());
	return open + close;
}

// The binary form of BuildChain's tree of objects or arrays.
std::vector<uint8> ChainBytes(JSONType kind, int levels)
{
	std::vector<uint8> bytes;
	for (int level = 0; level < levels; ++level)
	{
		const bool last = level + 1 == levels;
		if (kind == JSON_array)
			bytes.insert(bytes.end(), {6, uint8(last ? 0 : 1), 0, 0, 0});
		else if (last)
			bytes.push_back(5);
		else
			bytes.insert(bytes.end(), {5, 4, 0, 'n', 0, 'e', 0, 'x', 0, 't', 0});
	}
	if (kind == JSON_object)
	{
		for (int level = 0; level < levels; ++level)
			bytes.insert(bytes.end(), {0xFF, 0xFF});
	}
	return bytes;
}

std::vector<uint8> BytesOf(const VJSONBinaryWriter::Buffer& buffer)
{
	const uint8* data = buffer.GetDataPtr();
	return std::vector<uint8>(data, data + buffer.GetDataSize());
}

// An implementation whose object unfolds as it is read: until its count runs out it stands for a fresh
// object of one count less, both as the value the binary writer writes in its place and as its property
// "next" (a getter's value), so that the tree is as deep as its first count however it is walked.
class Unfolding : public VObject, public IJSONObject
{
public:
	explicit Unfolding(int remaining) : fRemaining(remaining) {}

	static VJSONValue Make(int remaining)
	{
		Unfolding* unfolding = new Unfolding(remaining);
		VJSONValue value;
		value.SetObject(VRefPtr<VJSONObject>(new VJSONObject(nullptr, unfolding, false), true).Get());
		unfolding->Release();
		return value;
	}

	void IJSON_GetValueToWriteToBuffer(VJSONValue& out) const override
	{
		if (fRemaining > 0)
			out = Make(fRemaining - 1);
	}
	EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names) const override
	{
		if (fRemaining > 0)
			names.push_back(kNext);
		return eJSONStatusHandled;
	}
	EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out, VDBLanguageContext*) const override
	{
		if (fRemaining == 0 || !name.EqualToStringRaw(kNext))
			return eJSONStatusNotHandled;
		out = Make(fRemaining - 1);
		return eJSONStatusHandled;
	}

private:
	const int fRemaining;
};

// What a walk ended with: its error (velk 108 when that was raised, even if the walk answers another code
// after it, as the parser answers 550) and, on success, whether its result is the one expected.
struct WalkOutcome
{
	VError fError = VE_OK;
	bool fRight = false;
};

WalkOutcome Outcome(const StErrorContextInstaller& scope, VError error, bool right)
{
	for (const VRefPtr<VErrorBase>& raised : scope.GetContext()->GetErrors())
	{
		if (raised->GetCode() == VE_STACK_OVERFLOW)
			return WalkOutcome{VE_STACK_OVERFLOW, false};
	}
	return WalkOutcome{error, error == VE_OK && right};
}

// Every walk that recurses into a tree, over trees as deep as the nesting bound and far deeper, on tasks
// with small stacks: none exhausts its stack. A tree within the bound is walked whole where the stack
// allows it, or refused with velk 108; a deeper one is always refused.
TEST(StJSONDeferredRelease, WalksStopAtTheFreeStackOfSmallTasks)
{
	using Walk = std::function<WalkOutcome()>;
	struct Row
	{
		const char* name;
		// Makes the input as deep as asked, then answers the walk over it.
		std::function<Walk(int levels)> prepare;
	};
	auto parse = [](JSONType first, bool alternate) {
		return [first, alternate](int levels) -> Walk {
			const VString text(ChainText(first, alternate, levels).c_str());
			return [text, levels] {
				StErrorContextInstaller scope(false, false);
				VJSONValue value;
				const VError error = VJSONImporter::ParseString(text, value, VJSONImporter::kStrict);
				return Outcome(scope, error, Depth(value) == levels);
			};
		};
	};
	auto writeText = [](JSONType first, bool alternate) {
		return [first, alternate](int levels) -> Walk {
			const VJSONValue tree = BuildChain(first, alternate, true, levels);
			const std::string expected = ChainText(first, alternate, levels);
			return [tree, expected] {
				StErrorContextInstaller scope(false, false);
				VString text;
				const VError error = VJSONWriter(VString::kJSON_WITH_QUOTES).StringifyValue(tree, text);
				return Outcome(scope, error, to_string(text) == expected);
			};
		};
	};
	auto writeBinary = [](JSONType kind) {
		return [kind](int levels) -> Walk {
			const VJSONValue tree = BuildChain(kind, false, true, levels);
			const std::vector<uint8> expected = ChainBytes(kind, levels);
			return [tree, expected] {
				StErrorContextInstaller scope(false, false);
				VJSONBinaryWriter::Buffer bytes;
				const VError error = VJSONBinaryWriter(0).StreamValue(tree, bytes);
				return Outcome(scope, error, BytesOf(bytes) == expected);
			};
		};
	};
	const Row rows[] = {
		{"text parser, arrays", parse(JSON_array, false)},
		{"text parser, objects", parse(JSON_object, false)},
		{"text parser, objects and arrays in turn", parse(JSON_object, true)},
		{"text writer, arrays", writeText(JSON_array, false)},
		{"text writer, objects", writeText(JSON_object, false)},
		{"text writer, objects and arrays in turn", writeText(JSON_array, true)},
		{"text writer, objects an implementation makes as they are read",
			[](int levels) -> Walk {
				const VJSONValue tree = Unfolding::Make(levels - 1);
				const std::string expected = ChainText(JSON_object, false, levels);
				return [tree, expected] {
					StErrorContextInstaller scope(false, false);
					VString text;
					const VError error = VJSONWriter(VString::kJSON_WITH_QUOTES).StringifyValue(tree, text);
					return Outcome(scope, error, to_string(text) == expected);
				};
			}},
		{"binary writer, arrays", writeBinary(JSON_array)},
		{"binary writer, objects", writeBinary(JSON_object)},
		{"binary writer, values an implementation writes in its place",
			[](int levels) -> Walk {
				const VJSONValue tree = Unfolding::Make(levels - 1);
				return [tree] {
					StErrorContextInstaller scope(false, false);
					VJSONBinaryWriter::Buffer bytes;
					const VError error = VJSONBinaryWriter(0).StreamValue(tree, bytes);
					return Outcome(scope, error, BytesOf(bytes) == std::vector<uint8>{5, 0xFF, 0xFF});
				};
			}},
		{"binary reader",
			[](int levels) -> Walk {
				const std::vector<uint8> bytes = ChainBytes(JSON_array, levels);
				return [bytes, levels] {
					StErrorContextInstaller scope(false, false);
					VJSONValue value;
					const VError error = VJSONBinaryImporter(bytes.data(), bytes.size()).GetValue(value);
					return Outcome(scope, error, Depth(value) == levels);
				};
			}},
		{"deep copy",
			[](int levels) -> Walk {
				const VJSONValue tree = BuildChain(JSON_object, true, true, levels);
				return [tree, levels] {
					StErrorContextInstaller scope(false, false);
					VJSONValue copy = tree;
					const VError error = VJSONCloner().CloneValue(copy);
					return Outcome(scope, error, Depth(copy) == levels && copy.GetObject() != tree.GetObject());
				};
			}},
		{"deep comparison",
			[](int levels) -> Walk {
				const VJSONValue a = BuildChain(JSON_array, true, true, levels);
				const VJSONValue b = BuildChain(JSON_array, true, false, levels);
				return [a, b] {
					StErrorContextInstaller scope(false, false);
					const bool equal = a.DeepEqualTo(b, VCompareOptions());
					return Outcome(scope, VE_OK, equal);
				};
			}},
		{"text of an array",
			[](int levels) -> Walk {
				const VJSONValue tree = BuildChain(JSON_array, false, true, levels);
				Deepest(tree).GetArray()->Push(VJSONValue(VString("x")));
				return [tree] {
					StErrorContextInstaller scope(false, false);
					VString text;
					const VError error = tree.GetString(text);
					return Outcome(scope, error, to_string(text) == "x");
				};
			}},
		{"pointer resolution",
			[](int levels) -> Walk {
				const VJSONValue tree = BuildChain(JSON_object, false, true, levels);
				tree.SetProperty(VString("v"), VJSONValue(5.0));
				VJSONValue reference(JSON_object);
				reference.SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(VString("#/v")));
				Deepest(tree).SetProperty(VString("r"), reference);
				return [tree] {
					StErrorContextInstaller scope(false, false);
					VJSONValue resolved = tree;
					VRefPtr<VJSONPointerResolver> resolver(new VJSONPointerResolver(tree), true);
					resolver->ResolveRecursively(resolved, false, nullptr);
					VError error = VE_OK;
					if (const VJSONArray* errors = resolver->GetErrors())
						error = MakeVError(kVELK_SIGNATURE, int32(errors->GetAt(0).GetProperty(VString("code")).GetNumber()));
					return Outcome(scope, error, Deepest(tree).GetProperty(VString("r")).GetNumber() == 5.0);
				};
			}},
	};
	// From stacks that 256 levels of any walk exhaust to one that holds them all.
	const size_t stackSizes[] = {64 * 1024, 128 * 1024, 512 * 1024, 8 * 1024 * 1024};
	const size_t largest = stackSizes[std::size(stackSizes) - 1];
	// Beyond the nesting bound, and too deep for the smaller stacks even for the walk that has no such bound
	// (the pointer resolver's, which stops at the free stack alone). The largest stack is left out for it:
	// such trees are walked on the main task's stack by the tests above.
	constexpr int kBeyondTheStacks = 10000;
	for (const Row& row : rows)
	{
		for (const int levels : {int(kJSONMaxNestingDepth), kBeyondTheStacks})
		{
			const Walk walk = row.prepare(levels);
			for (const size_t stackSize : stackSizes)
			{
				if (levels == kBeyondTheStacks && stackSize == largest)
					continue;
				SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(levels) + " levels, stack of "
					+ std::to_string(stackSize / 1024) + " KiB");
				WalkOutcome outcome;
				RunOnTaskWithStack(stackSize, [&] { outcome = walk(); });
				if (levels > int(kJSONMaxNestingDepth) || (outcome.fError != VE_OK && stackSize < largest))
				{
					EXPECT_EQ(outcome.fError, VE_STACK_OVERFLOW);
				}
				else
				{
					EXPECT_EQ(outcome.fError, VE_OK);
					EXPECT_TRUE(outcome.fRight);
				}
			}
		}
	}
}

}  // namespace
}  // namespace velk
