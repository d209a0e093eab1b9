// Deep copies keep the shape of the source (a container reached twice or through a cycle has one copy)
// and are independent of it; one-line edits by path; walks over array ranges and object names.

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/VFailingAllocations.h"
#include "kernel/json/VJSONAlter.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONIter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VTime.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

std::string Text(const VJSONValue& value)
{
	VString text;
	EXPECT_EQ(value.Stringify(text, VString::kJSON_WITH_QUOTES), VE_OK);
	std::string out;
	for (int32 i = 0; i < text.GetLength(); ++i)
		out += char(text.GetCPointer()[i]);
	return out;
}

VJSONValue Parse(const char* text)
{
	VJSONValue value;
	EXPECT_EQ(value.ParseFromString(VString(text)), VE_OK) << text;
	return value;
}

const void* ContainerOf(const VJSONValue& value)
{
	if (value.GetObject() != nullptr)
		return value.GetObject();
	return value.GetArray();
}

// Walks a source and its copy side by side. Every container of the copy must be new, and source
// containers and copies must pair one to one, so that shared references and cycles keep their shape.
void MatchShape(const VJSONValue& source, const VJSONValue& copy, std::map<const void*, const void*>& pairs,
	std::set<const void*>& copies)
{
	ASSERT_EQ(source.GetType(), copy.GetType());
	const void* from = ContainerOf(source);
	const void* to = ContainerOf(copy);
	if (from == nullptr)
	{
		EXPECT_EQ(source.CompareTo(copy, VCompareOptions()), CR_EQUAL);
		return;
	}
	ASSERT_NE(to, nullptr);
	EXPECT_NE(from, to) << "a container of the source is in the copy";
	auto [found, first] = pairs.emplace(from, to);
	if (!first)
	{
		EXPECT_EQ(found->second, to) << "one source container has two copies";
		return;
	}
	EXPECT_TRUE(copies.insert(to).second) << "two source containers share one copy";
	if (const VJSONObject* object = source.GetObject())
	{
		std::vector<VString> names, copyNames;
		ASSERT_TRUE(object->GetPropertyNamesInOrder(names));
		ASSERT_TRUE(copy.GetObject()->GetPropertyNamesInOrder(copyNames));
		ASSERT_EQ(names.size(), copyNames.size());
		for (size_t i = 0; i < names.size(); ++i)
			EXPECT_TRUE(hasher_VString::equal_to()(names[i], copyNames[i]));
		for (const VString& name : names)
			MatchShape(object->GetOwnProperty(name), copy.GetObject()->GetOwnProperty(name), pairs, copies);
	}
	else
	{
		const VJSONArray* array = source.GetArray();
		ASSERT_EQ(array->GetCount(), copy.GetArray()->GetCount());
		for (size_t i = 0; i < array->GetCount(); ++i)
			MatchShape(array->GetAt(i), copy.GetArray()->GetAt(i), pairs, copies);
	}
}

// The source is built from text, then the link (holder, held; "" is the root) is stored in the holder
// as "link", or pushed into it when it is an array.
TEST(VJSONCloner, CopiesKeepTheShapeOfSharedReferencesAndCycles)
{
	struct Row
	{
		const char* text;
		const char* holder;  // null: no link
		const char* held;
		size_t containers;
	};
	const Row rows[] = {
		{R"({"a":[1,"two",{"b":null}],"c":"x","d":true,"e":false,"f":{}})", nullptr, nullptr, 4},
		{R"({"a":[1,"s"],"b":null})", "", "a", 2},   // "a" and "link" hold one array
		{R"({"a":{"k":[]},"b":null})", "", "a", 3},  // ... one object
		{R"({"n":1})", "", "", 1},                   // an object holding itself
		{R"({"l":[1,2]})", "l", "l", 2},             // an array holding itself
		{R"({"l":[true]})", "l", "", 2},             // an object and an array holding each other
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.text);
		const VJSONValue source = Parse(row.text);
		if (row.holder != nullptr)
		{
			const VJSONValue from = *row.holder ? source.GetProperty(VString(row.holder)) : source;
			const VJSONValue to = *row.held ? source.GetProperty(VString(row.held)) : source;
			if (from.GetArray() != nullptr)
				ASSERT_TRUE(from.GetArray()->Push(to));
			else
				from.SetProperty(VString("link"), to);
		}
		VJSONValue copy = source;
		VJSONCloner cloner;
		ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
		std::map<const void*, const void*> pairs;
		std::set<const void*> copies;
		MatchShape(source, copy, pairs, copies);
		EXPECT_EQ(pairs.size(), row.containers);
		// A container met again by the same cloner gives the copy already made.
		VJSONValue again = source;
		ASSERT_EQ(cloner.CloneValue(again), VE_OK);
		EXPECT_EQ(ContainerOf(again), ContainerOf(copy));
	}
}

TEST(VJSONCloner, CopiesAreIndependentOfTheirSource)
{
	VJSONValue source = Parse(R"({"a":{"b":[1,2]},"s":"text"})");
	const std::string before = Text(source);
	VJSONValue copy = source;
	{
		VJSONCloner cloner;
		ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
	}
	EXPECT_EQ(Text(copy), before);

	copy.GetProperty(VString("a")).GetProperty(VString("b")).GetArray()->Push(VJSONValue(3.0));
	copy.SetProperty(VString("s"), VJSONValue(VString("changed")));
	EXPECT_EQ(Text(source), before);

	source.GetProperty(VString("a")).SetProperty(VString("new"), VJSONValue::sTrue);
	EXPECT_EQ(Text(copy), R"({"a":{"b":[1,2,3]},"s":"changed"})");
}

// An object holding a shared object and a plain tree, copied in each mode.
TEST(VJSONCloner, ModesKeepSharedObjectsOrShareTheCopies)
{
	for (const uint32 mode : {VJSONCloner::kCloneAll, VJSONCloner::kKeepShared, VJSONCloner::kCloneIntoLocker})
	{
		SCOPED_TRACE(mode);
		VJSONObject* shared = new VJSONObject(nullptr, nullptr, true);
		{
			VJSONUser user(shared, false);
			ASSERT_TRUE(shared->SetProperty(VString("k"), VJSONValue(1.0)));
		}
		VJSONValue source = Parse(R"({"plain":{"list":[1]}})");
		source.SetProperty(VString("shared"), VJSONValue(shared));
		shared->Release();

		VJSONCloner cloner(mode);
		VJSONValue copy = source;
		ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
		EXPECT_EQ(Text(copy), R"({"plain":{"list":[1]},"shared":{"k":1}})");
		const VJSONObject* copyShared = copy.GetProperty(VString("shared")).GetObject();
		const VJSONValue copyPlain = copy.GetProperty(VString("plain"));
		EXPECT_EQ(copyShared == shared, mode == VJSONCloner::kKeepShared);
		// Under the cloner's locker, established once a second copy joined it; otherwise not shared.
		const int32 id = mode == VJSONCloner::kCloneIntoLocker ? int32(cloner.GetStorageLockerAndAssignIfNecessary()->GetID()) : 0;
		EXPECT_EQ(copy.GetObject()->GetSharedID(), id);
		EXPECT_EQ(copyPlain.GetObject()->GetSharedID(), id);
		EXPECT_EQ(copyPlain.GetProperty(VString("list")).GetArray()->GetSharedID(), id);
		if (mode != VJSONCloner::kKeepShared)
		{
			EXPECT_EQ(copyShared->GetSharedID(), id);
		}
	}
}

// An implementation that copies itself, or fails to copy the whole object, recording its error only.
class Duplicable : public VObject, public IJSONObject
{
public:
	explicit Duplicable(bool copiesItself) : fCopiesItself(copiesItself) {}
	EJSONStatus IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, VRefPtr<IJSONObject>& out, bool*, uint64*) const override
	{
		if (!fCopiesItself)
			return eJSONStatusNotHandled;
		out.Adopt(new Duplicable(true));
		return eJSONStatusHandled;
	}
	EJSONStatus IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue&, uint64*) const override
	{
		_ThrowError(VE_ACCESS_DENIED);
		return eJSONStatusFailed;
	}

private:
	bool fCopiesItself;
};

TEST(VJSONCloner, ImplementationsCopyThemselvesOrFail)
{
	for (const bool copiesItself : {true, false})
	{
		StErrorContextInstaller scope(false, false);
		Duplicable* implementation = new Duplicable(copiesItself);
		VJSONObject* object = new VJSONObject(nullptr, implementation, false);
		implementation->Release();
		ASSERT_TRUE(object->SetProperty(VString("p"), Parse("[1]")));
		VJSONValue copy(object);
		object->Release();
		VJSONCloner cloner;
		EXPECT_EQ(cloner.CloneValue(copy), copiesItself ? VE_OK : VE_ACCESS_DENIED);
		if (copiesItself)
		{
			EXPECT_EQ(Text(copy), R"({"p":[1]})");
			EXPECT_NE(copy.GetObject()->GetImplementation(), nullptr);
			EXPECT_NE(copy.GetObject()->GetImplementation(), implementation);
		}
	}
}

TEST(VJSONCloner, StorageLocker)
{
	VJSONCloner cloner(VJSONCloner::kCloneIntoLocker);
	VStorageLocker* made = cloner.GetStorageLockerAndAssignIfNecessary();
	ASSERT_NE(made, nullptr);
	EXPECT_TRUE(made->IsProvisional());
	EXPECT_EQ(cloner.GetStorageLockerAndAssignIfNecessary(), made);
	EXPECT_FALSE(made->IsProvisional());

	VStorageLocker* other = new VStorageLocker();
	cloner.SetStorageLocker(other);
	cloner.SetStorageLocker(other);
	EXPECT_EQ(other->GetRefCount(), 2);
	EXPECT_EQ(cloner.GetStorageLockerAndAssignIfNecessary(), other);
	{
		VJSONCloner shortLived;
		shortLived.SetStorageLocker(other);
	}
	cloner.SetStorageLocker(nullptr);
	EXPECT_EQ(other->GetRefCount(), 1);
	other->Release();
}

// Every refused allocation ends the copy with velk 100, without leaking the part already copied (cycles
// included); a copy that completes matches the source.
TEST(VJSONCloner, AllocationFailures)
{
	VJSONValue source = Parse(R"({"a":[1,{"b":"x"}],"c":{"d":[[]]}})");
	source.GetProperty(VString("c")).SetProperty(VString("up"), source);
	// One scope for every run, opened while allocations still succeed; it drops their errors.
	StErrorContextInstaller scope(false, false);
	const long runs = test::ForEachAllocationFailure([&](long allowed) {
		VJSONValue copy = source;
		VError error = VE_OK;
		{
			test::StFailingAllocations failing(allowed);
			VJSONCloner cloner;
			error = cloner.CloneValue(copy);
		}
		if (error == VE_OK)
		{
			std::map<const void*, const void*> pairs;
			std::set<const void*> copies;
			MatchShape(source, copy, pairs, copies);
		}
		else
		{
			EXPECT_EQ(error, VE_MEMORY_FULL) << allowed;
		}
	});
	EXPECT_GT(runs, 1);
	source.SetProperty(VString("c"), VJSONValue::sNull);
}

TEST(VJSONAlter, EachConstructorEditsThePath)
{
	struct Row
	{
		const char* name;
		const char* start;  // the value edited, as JSON text
		std::function<void(VJSONValue&)> alter;
		const char* expected;
	};
	VTime time;
	time.FromUTCTime(2024, 3, 5, 12, 30, 15, 250);
	const Row rows[] = {
		{"bool", "{}", [](VJSONValue& v) { VJSONAlter(v, VString("a.b"), true); }, R"({"a":{"b":true}})"},
		{"int32 on a number: made an object first", "5", [](VJSONValue& v) { VJSONAlter(v, VString("a"), int32(3)); },
			R"({"a":3})"},
		{"double", R"({"x":1})", [](VJSONValue& v) { VJSONAlter(v, VString("y"), 2.5); }, R"({"x":1,"y":2.5})"},
		{"string", "[]", [](VJSONValue& v) { VJSONAlter(v, VString("s"), VString("t")); }, R"({"s":"t"})"},
		{"char text", "{}", [](VJSONValue& v) { VJSONAlter(v, VString("s"), "abc"); }, R"({"s":"abc"})"},
		{"UTF-16 text", "{}", [](VJSONValue& v) { VJSONAlter(v, VString("s"), u"\u00e9t\u00e9"); },
			"{\"s\":\"\xe9t\xe9\"}"},
		{"value into an array by index", "{}",
			[](VJSONValue& v) { VJSONAlter(v, VString("list[2]"), VJSONValue::sNull); }, R"({"list":[null,null,null]})"},
		{"time", "{}", [&time](VJSONValue& v) { VJSONAlter(v, VString("t"), time); },
			R"({"t":"2024-03-05T12:30:15.250Z"})"},
		{"removal", R"({"a":1,"b":2})", [](VJSONValue& v) { VJSONAlter(v, VString("a")); }, R"({"b":2})"},
		{"removal on a number does nothing", "4", [](VJSONValue& v) { VJSONAlter(v, VString("a")); }, "4"},
		{"object only", "null", [](VJSONValue& v) { VJSONAlter alter(v); }, "{}"},
		{"object kept", R"({"k":1})", [](VJSONValue& v) { VJSONAlter alter(v); }, R"({"k":1})"},
		{"path through a number is refused", R"({"n":1})", [](VJSONValue& v) { VJSONAlter(v, VString("n.m"), 2.0); },
			R"({"n":1})"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		StErrorContextInstaller scope(false, false);
		VJSONValue value = Parse(row.start);
		row.alter(value);
		EXPECT_EQ(Text(value), row.expected);
	}
}

TEST(VJSONAlter, NewContainerOfAKind)
{
	VJSONValue value;
	VJSONArray* array = nullptr;
	VJSONAlter(value, VString("a.list"), JSON_array, &array);
	ASSERT_NE(array, nullptr);
	EXPECT_EQ(array, value.GetProperty(VString("a")).GetProperty(VString("list")).GetArray());
	VJSONAlter(value, VString("o"), JSON_object, &array);
	EXPECT_EQ(array, nullptr);
	EXPECT_EQ(Text(value), R"({"a":{"list":[]},"o":{}})");
}

// An implementation that walks an array of its own in place of the object's names.
class OwnWalk : public VObject, public IJSONObject
{
public:
	VJSONIter* IJSON_MakeIterator(const VJSONObject*, size_t, size_t, bool) const override
	{
		VJSONValue list = Parse(R"(["p","q"])");
		return new VJSONIter(list.GetArray(), 0, 0, true);
	}
};

std::vector<std::string> Walk(VJSONIter& iter)
{
	std::vector<std::string> out;
	VJSONValue value;
	while (iter.NextValue(value))
		out.push_back(Text(value));
	EXPECT_TRUE(value.IsUndefined());
	return out;
}

TEST(VJSONIter, ArrayRanges)
{
	struct Row
	{
		int32 start;
		int32 end;
		bool toEnd;
		std::vector<std::string> expected;
	};
	const Row rows[] = {
		{-2, 0, false, {}},
		{-2, 0, true, {"3", "4"}},
		{1, 3, false, {"1", "2"}},
		{1, -1, false, {"1", "2", "3"}},
		{-9, 2, false, {"0", "1"}},
		{3, 9, false, {"3", "4"}},
		{4, 2, false, {}},
		{7, 0, true, {}},
	};
	const VJSONValue list = Parse("[0,1,2,3,4]");
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << row.start << " " << row.end << " " << row.toEnd);
		VJSONIter iter(list.GetArray(), row.start, row.end, row.toEnd);
		EXPECT_EQ(Walk(iter), row.expected);
	}

	// The walk ends early when the array shrinks under it.
	VJSONIter iter(list.GetArray(), 0, 0, true);
	VJSONValue value;
	ASSERT_TRUE(iter.NextValue(value));
	list.GetArray()->RemoveAt(1, 10);
	EXPECT_FALSE(iter.NextValue(value));
}

TEST(VJSONIter, ObjectNames)
{
	VJSONValue object = Parse(R"({"x":1,"y":2})");
	VJSONIter names(object.GetObject(), 0, 0, false);
	object.SetProperty(VString("z"), VJSONValue(3.0));
	EXPECT_EQ(Walk(names), (std::vector<std::string>{R"("x")", R"("y")"}));

	OwnWalk* implementation = new OwnWalk;
	VJSONObject* walked = new VJSONObject(nullptr, implementation, false);
	implementation->Release();
	ASSERT_TRUE(walked->SetProperty(VString("own"), VJSONValue(1.0)));
	{
		VJSONIter iter(walked, 0, 0, false);
		EXPECT_EQ(Walk(iter), (std::vector<std::string>{R"("p")", R"("q")"}));
	}
	walked->Release();
}

}  // namespace
}  // namespace velk
