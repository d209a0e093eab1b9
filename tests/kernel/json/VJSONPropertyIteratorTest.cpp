// Property iterators: insertion order after inserts and removals, the names a native implementation
// supplies, writing through the iterator, and changes made to the object during a walk.

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/VFailingAllocations.h"
#include "kernel/json/VJSONPropertyIterator.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

std::string Narrow(const VString& text)
{
	std::string out;
	for (int32 i = 0; i < text.GetLength(); ++i)
		out.push_back(char(text.GetCPointer()[i]));
	return out;
}

// Each name visited, with its value's number ("a=2"; "a=?" when the value is not a number).
std::vector<std::string> Walk(VJSONPropertyNames& iterator)
{
	std::vector<std::string> seen;
	for (; iterator.IsValid(); ++iterator)
	{
		const VJSONValue value = iterator.GetValue();
		seen.push_back(Narrow(iterator.GetName()) + "="
			+ (value.IsNumber() ? std::to_string(int(value.GetNumber())) : std::string("?")));
	}
	EXPECT_TRUE(iterator.GetName().IsEmpty());
	EXPECT_TRUE(iterator.GetValue().IsUndefined());
	return seen;
}

// Supplies names of its own (or answers "not handled" / "failed"), and the value 42 for "v".
class NamingImplementation : public VObject, public IJSONObject
{
public:
	NamingImplementation(EJSONStatus status, std::vector<const char*> names) : fStatus(status), fNames(std::move(names)) {}

	EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names) const override
	{
		for (const char* name : fNames)
			names.push_back(VString(name));
		return fStatus;
	}
	EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out, VDBLanguageContext*) const override
	{
		if (!name.EqualToUSASCIICString("v"))
			return eJSONStatusNotHandled;
		out.SetNumber(42.0);
		return eJSONStatusHandled;
	}

private:
	EJSONStatus fStatus;
	std::vector<const char*> fNames;
};

// Own properties b=1, a=2, c=3 set in that order, under an implementation when one is given.
VRefPtr<VJSONObject> MakeObject(IJSONObject* implementation)
{
	VRefPtr<VJSONObject> object(new VJSONObject(nullptr, implementation, false), true);
	object->SetProperty(VString("b"), VJSONValue(1.0));
	object->SetProperty(VString("a"), VJSONValue(2.0));
	object->SetProperty(VString("c"), VJSONValue(3.0));
	return object;
}

TEST(VJSONPropertyIterator, OrderedWalkFollowsInsertsAndRemovals)
{
	struct Row
	{
		const char* steps;  // "+x" sets x (to its step number), "-x" removes it
		std::vector<std::string> order;
	};
	const Row rows[] = {
		{"+b +a +c", {"b=0", "a=1", "c=2"}},
		{"+b +a +c -b", {"a=1", "c=2"}},
		{"+b +a +c -a +a", {"b=0", "c=2", "a=4"}},
		{"+b +a +b", {"b=2", "a=1"}},
		{"+a +b +c +d -b -c +b", {"a=0", "d=3", "b=6"}},
		{"+a -a -a", {}},
		{"+a +b -z", {"a=0", "b=1"}},
		{"", {}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.steps);
		VRefPtr<VJSONObject> object(new VJSONObject(nullptr, nullptr, false), true);
		std::vector<VString> steps;
		VString(row.steps).GetSubStrings(u' ', steps, false, false);
		for (size_t i = 0; i < steps.size(); ++i)
		{
			const VString name(steps[i].GetCPointer() + 1, steps[i].GetLength() - 1);
			if (steps[i].GetUniChar(1) == u'+')
				object->SetProperty(name, VJSONValue(double(i)));
			else
				object->RemoveProperty(name);
		}
		VJSONPropertyConstOrderedIterator ordered(object.Get(), kJSONOrderedOwnOnly);
		EXPECT_EQ(Walk(ordered), row.order);

		// The ordinals the object keeps agree with the walk, and the other walks visit the same names.
		VJSONPropertyConstOrderedIterator again(object.Get(), kJSONOrderedOwnOnly);
		for (int64 ordinal = 0; again.IsValid(); ++again, ++ordinal)
			EXPECT_EQ(object->GetPropertyOrdinal(again.GetName()), ordinal);
		std::vector<std::string> sorted = row.order;
		std::sort(sorted.begin(), sorted.end());
		VJSONPropertyConstIterator plain(object.Get());
		std::vector<std::string> hashed = Walk(plain);
		std::sort(hashed.begin(), hashed.end());
		EXPECT_EQ(hashed, sorted);
	}
}

TEST(VJSONPropertyIterator, ImplementationNamesComeWithTheOwnOnes)
{
	enum class Kind
	{
		Plain,
		Const,
		Ordered
	};
	struct Row
	{
		const char* name;
		bool implementation;
		EJSONStatus status;
		Kind kind;
		uint32 options;
		std::vector<std::string> first;  // names in this order at the start
		std::vector<std::string> rest;   // then these, in any order (the map's own)
	};
	const std::vector<std::string> own = {"a=2", "b=1", "c=3"};
	const Row rows[] = {
		{"plain, none", false, eJSONStatusHandled, Kind::Plain, 0, {}, own},
		{"const, none", false, eJSONStatusHandled, Kind::Const, 0, {}, own},
		{"ordered, none", false, eJSONStatusHandled, Kind::Ordered, 0, {"b=1", "a=2", "c=3"}, {}},
		{"plain, supplied", true, eJSONStatusHandled, Kind::Plain, 0, {"v=42", "a=2"}, own},
		{"const, supplied", true, eJSONStatusHandled, Kind::Const, 0, {"v=42", "a=2"}, own},
		{"ordered 0", true, eJSONStatusHandled, Kind::Ordered, 0, {"b=1", "a=2", "c=3", "v=42"}, {}},
		{"ordered 2", true, eJSONStatusHandled, Kind::Ordered, 2, {"b=1", "a=2", "c=3", "v=42"}, {}},
		{"ordered 1", true, eJSONStatusHandled, Kind::Ordered, 1, {"b=1", "a=2", "c=3"}, {}},
		{"ordered 3", true, eJSONStatusHandled, Kind::Ordered, 3, {"b=1", "a=2", "c=3"}, {}},
		{"plain, not handled", true, eJSONStatusNotHandled, Kind::Plain, 0, {}, own},
		{"ordered, not handled", true, eJSONStatusNotHandled, Kind::Ordered, 0, {"b=1", "a=2", "c=3"}, {}},
		{"plain, failed", true, eJSONStatusFailed, Kind::Plain, 0, {}, own},
		{"ordered, failed", true, eJSONStatusFailed, Kind::Ordered, 0, {"b=1", "a=2", "c=3"}, {}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		NamingImplementation* implementation = row.implementation ? new NamingImplementation(row.status, {"v", "a"}) : nullptr;
		VRefPtr<VJSONObject> object = MakeObject(implementation);
		if (implementation != nullptr)
			implementation->Release();
		std::vector<std::string> seen;
		switch (row.kind)
		{
			case Kind::Plain:
			{
				VJSONPropertyIterator iterator(object.Get());
				seen = Walk(iterator);
				break;
			}
			case Kind::Const:
			{
				VJSONPropertyConstIterator iterator(object.Get());
				seen = Walk(iterator);
				break;
			}
			case Kind::Ordered:
			{
				VJSONPropertyConstOrderedIterator iterator(object.Get(), row.options);
				seen = Walk(iterator);
				break;
			}
		}
		ASSERT_EQ(seen.size(), row.first.size() + row.rest.size());
		EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + std::ptrdiff_t(row.first.size())), row.first);
		std::vector<std::string> rest(seen.begin() + std::ptrdiff_t(row.first.size()), seen.end());
		std::sort(rest.begin(), rest.end());
		EXPECT_EQ(rest, row.rest);
	}

	// A null object has no names.
	VJSONPropertyConstIterator none(nullptr);
	EXPECT_FALSE(none.IsValid());
	VJSONPropertyIterator noneEither(nullptr);
	EXPECT_FALSE(noneEither.IsValid());
	EXPECT_FALSE(noneEither.SetValue(VJSONValue(1.0)));
}

TEST(VJSONPropertyIterator, WritesThroughAndSurvivesChanges)
{
	NamingImplementation* implementation = new NamingImplementation(eJSONStatusHandled, {"x"});
	VRefPtr<VJSONObject> object = MakeObject(implementation);
	implementation->Release();
	{
		VJSONPropertyIterator iterator(object.Get());
		ASSERT_TRUE(iterator.IsValid());
		EXPECT_FALSE(iterator.IsOwnProperty());
		// A supplied name is written whatever the value: here it becomes an own property, then goes again.
		EXPECT_TRUE(iterator.SetValue(VJSONValue(5.0)));
		EXPECT_EQ(object->GetOwnProperty(VString("x")).GetNumber(), 5.0);
		EXPECT_TRUE(iterator.SetValue(VJSONValue(JSON_undefined)));
		EXPECT_FALSE(object->HasOwnProperty(VString("x")));
		++iterator;
		// Own properties are written, but never removed under the walk.
		for (; iterator.IsValid(); ++iterator)
		{
			ASSERT_TRUE(iterator.IsOwnProperty());
			EXPECT_FALSE(iterator.SetValue(VJSONValue(JSON_undefined)));
			EXPECT_TRUE(iterator.SetValue(VJSONValue(iterator.GetValue().GetNumber() * 10)));
			// Names added during the walk are not visited; none disturbs it.
			for (int i = 0; i < 64; ++i)
				object->SetProperty(VString(std::to_string(i).c_str()), VJSONValue(0.0));
		}
	}
	EXPECT_EQ(object->GetOwnProperty(VString("a")).GetNumber(), 20.0);
	EXPECT_EQ(object->GetOwnProperty(VString("b")).GetNumber(), 10.0);
	EXPECT_EQ(object->GetOwnProperty(VString("c")).GetNumber(), 30.0);

	// A property removed after the names were taken reads as undefined.
	VJSONPropertyConstOrderedIterator ordered(object.Get(), kJSONOrderedOwnOnly);
	object->RemoveProperty(VString("b"));
	ASSERT_TRUE(ordered.IsValid());
	EXPECT_EQ(Narrow(ordered.GetName()), "b");
	EXPECT_TRUE(ordered.GetValue().IsUndefined());
}

// The writing iterator uses a shared object's locker for its life; the reading ones take no use of it.
TEST(VJSONPropertyIterator, WritingIteratorUsesTheLocker)
{
	VRefPtr<VJSONObject> shared(new VJSONObject(nullptr, nullptr, true), true);
	{
		VJSONUser user(shared.Get(), false);
		ASSERT_TRUE(shared->SetProperty(VString("a"), VJSONValue(1.0)));
	}
	VRefPtr<VStorageLocker> locker = shared->GetStorageLocker();
	{
		VJSONPropertyConstOrderedIterator reading(shared.Get(), 0);
		EXPECT_EQ(locker->GetUseCount(), 0);
		EXPECT_EQ(Narrow(reading.GetName()), "a");
	}
	{
		VJSONPropertyIterator writing(shared.Get());
		EXPECT_TRUE(locker->IsUsedByCurrentTask());
		ASSERT_TRUE(writing.IsValid());
		EXPECT_TRUE(writing.SetValue(VJSONValue(2.0)));
	}
	EXPECT_EQ(locker->GetUseCount(), 0);
	EXPECT_EQ(shared->GetOwnProperty(VString("a")).GetNumber(), 2.0);
	StErrorContextInstaller scope(false, true);
	EXPECT_FALSE(shared->SetProperty(VString("a"), VJSONValue(3.0)));
	EXPECT_EQ(scope.GetLastError(), VE_JSON_OBJECT_NOT_IN_USE);
}

// Names that cannot all be taken give an empty walk and velk 100, never a partial one.
TEST(VJSONPropertyIterator, RefusedNamesGiveAnEmptyWalk)
{
	NamingImplementation* implementation = new NamingImplementation(eJSONStatusHandled, {"v", "w"});
	VRefPtr<VJSONObject> object = MakeObject(implementation);
	implementation->Release();
	const std::vector<std::function<size_t()>> walks = {
		[&] {
			VJSONPropertyIterator iterator(object.Get());
			size_t count = 0;
			for (; iterator.IsValid(); ++iterator)
				++count;
			return count;
		},
		[&] {
			VJSONPropertyConstIterator iterator(object.Get());
			size_t count = 0;
			for (; iterator.IsValid(); ++iterator)
				++count;
			return count;
		},
		[&] {
			VJSONPropertyConstOrderedIterator iterator(object.Get(), 0);
			size_t count = 0;
			for (; iterator.IsValid(); ++iterator)
				++count;
			return count;
		},
	};
	for (size_t i = 0; i < walks.size(); ++i)
	{
		SCOPED_TRACE(i);
		StErrorContextInstaller scope(false, true);
		int refusals = 0;
		const long runs = test::ForEachAllocationFailure([&](long) {
			const size_t count = walks[i]();
			if (count != 5)
			{
				++refusals;
				EXPECT_EQ(count, 0u);
				EXPECT_EQ(VTask::GetLastError(), VE_MEMORY_FULL);
			}
			VTask::FlushErrors();
		});
		EXPECT_GT(runs, 1);
		EXPECT_GT(refusals, 0);
	}
}

}  // namespace
}  // namespace velk
