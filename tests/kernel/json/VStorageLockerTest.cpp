// Shared JSON storage: who may store what under which locker, and tasks taking turns on one locker.

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VStorageLocker.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

constexpr int32 kForever = 600000;  // longer than the test's time limit: reaching it is a failure

// Runs body on a task of its own and waits for its end.
void RunOnOtherTask(std::function<void()> body)
{
	VTask* task = new VTask(0, eTaskStylePreemptive, std::move(body));
	ASSERT_TRUE(task->Run());
	EXPECT_TRUE(task->WaitForDeath(kForever));
	task->Release();
}

// An implementation that lets its object be shared without a locker.
class SharableImplementation : public VObject, public IJSONObject
{
public:
	bool IJSON_IsSharable(const VJSONObject*, bool& flag) const override
	{
		flag = false;
		return true;
	}
};

// What storing a value into a shared object answers, for each kind of value locker.
TEST(VStorageLocker, StoreIntoSharedObjectFollowsTheLockerRules)
{
	VTask::FlushErrors();
	enum class Value { Plain, PlainArray, Sharable, OwnProvisional, OtherEstablished, OtherEstablishedArray, SameLocker, Scalar };
	struct Row
	{
		const char* name;
		Value value;
		bool containersOnly;
		bool stored;
		VError error;
	};
	const Row rows[] = {
		{"plain object", Value::Plain, false, false, VE_JSON_NOT_SHARABLE},
		{"plain array", Value::PlainArray, false, false, VE_JSON_NOT_SHARABLE},
		{"sharable implementation", Value::Sharable, false, true, VE_OK},
		{"provisional shared object", Value::OwnProvisional, false, true, VE_OK},
		{"object under another established locker", Value::OtherEstablished, false, false, VE_JSON_OBJECT_UNDER_OTHER_LOCKER},
		{"array under another established locker", Value::OtherEstablishedArray, false, false, VE_JSON_ARRAY_UNDER_OTHER_LOCKER},
		{"object under the same locker", Value::SameLocker, false, true, VE_OK},
		{"scalar", Value::Scalar, false, true, VE_OK},
		{"scalar into containers-only", Value::Scalar, true, false, VE_JSON_CONTAINERS_ONLY},
		{"established other locker into containers-only", Value::OtherEstablished, true, true, VE_OK},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VJSONObject* shared = new VJSONObject(nullptr, nullptr, true);
		VRefPtr<VStorageLocker> locker = shared->GetStorageLocker();
		ASSERT_TRUE(locker);
		locker->SetEstablished();
		locker->SetContainersOnly(row.containersOnly);
		VJSONUser user(shared, false);

		VJSONValue value;
		VJSONObject* other = nullptr;
		VJSONArray* otherArray = nullptr;
		switch (row.value)
		{
			case Value::Plain: value = VJSONValue(JSON_object); break;
			case Value::PlainArray: value = VJSONValue(JSON_array); break;
			case Value::Sharable:
			{
				SharableImplementation* implementation = new SharableImplementation;
				other = new VJSONObject(nullptr, implementation, false);
				implementation->Release();
				break;
			}
			case Value::OwnProvisional: other = new VJSONObject(nullptr, nullptr, true); break;
			case Value::OtherEstablished:
				other = new VJSONObject(nullptr, nullptr, true);
				other->GetStorageLocker()->SetEstablished();
				break;
			case Value::OtherEstablishedArray:
				otherArray = new VJSONArray(true);
				otherArray->GetStorageLocker()->SetEstablished();
				break;
			case Value::SameLocker: other = new VJSONObject(nullptr, nullptr, locker.Get(), false); break;
			case Value::Scalar: value = VJSONValue(2.0); break;
		}
		if (other != nullptr)
			value = VJSONValue(other);
		if (otherArray != nullptr)
			value = VJSONValue(otherArray);

		EXPECT_EQ(shared->SetProperty(VString("p"), value), row.stored);
		EXPECT_EQ(VTask::GetLastError(), row.error);
		EXPECT_EQ(shared->HasOwnProperty(VString("p")), row.stored);
		if (row.value == Value::OwnProvisional)
		{
			// The value joined the container's locker.
			EXPECT_EQ(other->GetStorageLocker().Get(), locker.Get());
		}
		VTask::FlushErrors();
		if (other != nullptr)
			other->Release();
		if (otherArray != nullptr)
			otherArray->Release();
		shared->Release();
	}
}

// A plain tree joins a shared container once made shared; the shared id turns positive, and the locker
// id reads as the "__LockerID" property, which cannot be written.
TEST(VStorageLocker, MakeValueSharedEstablishesTheLocker)
{
	VTask::FlushErrors();
	VJSONObject* shared = new VJSONObject(nullptr, nullptr, true);
	const int32 provisionalID = shared->GetSharedID();
	EXPECT_LT(provisionalID, 0);
	EXPECT_EQ(shared->GetProperty(VString("__LockerID")).GetNumber(), double(provisionalID));
	EXPECT_TRUE(shared->HasOwnProperty(VString("__LockerID")));

	VJSONValue tree(JSON_object);
	VJSONValue leaf(JSON_array);
	tree.SetProperty(VString("leaf"), leaf);
	{
		VJSONUser user(shared, false);
		EXPECT_FALSE(shared->SetProperty(VString("tree"), tree));
		EXPECT_EQ(VTask::GetLastError(), VE_JSON_NOT_SHARABLE);
		VTask::FlushErrors();
		shared->MakeValueSharedIfNecessary(tree);
		EXPECT_TRUE(shared->SetProperty(VString("tree"), tree));
		EXPECT_FALSE(shared->SetProperty(VString("__LockerID"), VJSONValue(1.0)));
	}
	EXPECT_EQ(shared->GetSharedID(), -provisionalID);
	EXPECT_EQ(leaf.GetArray()->GetSharedID(), -provisionalID);
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
	shared->Release();
}

// Changes by a task that does not use the locker are refused and change nothing.
TEST(VStorageLocker, ChangesNeedTheLockerUser)
{
	VTask::FlushErrors();
	VJSONObject* object = new VJSONObject(nullptr, nullptr, true);
	VJSONArray* array = new VJSONArray(true);
	{
		VJSONUser user(object, false);
		object->SetProperty(VString("kept"), VJSONValue(1.0));
	}
	struct Row
	{
		const char* name;
		std::function<bool()> change;
		VError error;
	};
	const std::vector<Row> rows = {
		{"set property", [&] { return object->SetProperty(VString("a"), VJSONValue(1.0)); }, VE_JSON_OBJECT_NOT_IN_USE},
		{"remove property", [&] { object->RemoveProperty(VString("kept")); return false; }, VE_JSON_OBJECT_NOT_IN_USE},
		{"clear object", [&] { object->Clear(); return false; }, VE_JSON_OBJECT_NOT_IN_USE},
		{"push", [&] { return array->Push(VJSONValue(1.0)); }, VE_JSON_ARRAY_NOT_IN_USE},
		{"set at", [&] { return array->SetAt(0, VJSONValue(1.0), true); }, VE_JSON_ARRAY_NOT_IN_USE},
		{"resize", [&] { return array->Resize(3, JSON_null); }, VE_JSON_ARRAY_NOT_IN_USE},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		EXPECT_FALSE(row.change());
		EXPECT_EQ(VTask::GetLastError(), row.error);
		VTask::FlushErrors();
	}
	EXPECT_EQ(object->GetPropertyCount(), 1u);
	EXPECT_EQ(array->GetCount(), 0u);
	array->Release();
	object->Release();
}

// TryToUse never waits, EndUse by a stranger changes nothing, nested uses need as many EndUse, and a
// provisional value in another task's use cannot be taken.
TEST(VStorageLocker, UseCountsBelongToOneTask)
{
	VTask::FlushErrors();
	VStorageLocker* locker = new VStorageLocker;
	ASSERT_TRUE(locker->Use());
	ASSERT_TRUE(locker->Use());
	const int32 me = VTask::GetCurrentID();

	bool triedElsewhere = true;
	VError assignElsewhere = VE_OK;
	RunOnOtherTask([&] {
		triedElsewhere = locker->TryToUse();
		locker->EndUse();
		VStorageLocker* established = new VStorageLocker;
		established->SetEstablished();
		VJSONObject* container = new VJSONObject(nullptr, nullptr, established, false);
		VJSONObject* value = new VJSONObject(nullptr, nullptr, locker, false);
		VStorageLocker::Assign(VJSONContainer(container), established, VJSONContainer(value), locker);
		assignElsewhere = VTask::GetLastError();
		VTask::FlushErrors();
		value->Release();
		container->Release();
		established->Release();
	});
	EXPECT_FALSE(triedElsewhere);
	EXPECT_EQ(assignElsewhere, VE_JSON_LOCKER_USED_ELSEWHERE);
	EXPECT_EQ(locker->GetUser(), me);
	EXPECT_EQ(locker->GetUseCount(), 2);
	locker->EndUse();
	EXPECT_TRUE(locker->IsUsedByCurrentTask());
	locker->EndUse();
	EXPECT_EQ(locker->GetUser(), 0);

	bool triedFree = false;
	RunOnOtherTask([&] {
		triedFree = locker->TryToUse();
		locker->EndUse();
	});
	EXPECT_TRUE(triedFree);
	locker->Release();
}

// A second task that calls Use waits, serving its messages, until the first gives the locker up.
TEST(VStorageLocker, SecondTaskWaitsForTheFirst)
{
	VJSONArray* array = new VJSONArray(true);
	VRefPtr<VStorageLocker> locker = array->GetStorageLocker();
	ASSERT_TRUE(locker->Use());
	array->Push(VJSONValue(1.0));

	std::atomic<bool> otherIn{false};
	std::atomic<bool> released{false};
	bool orderKept = false;
	VTask* other = new VTask(0, eTaskStylePreemptive, [&] {
		VJSONUser user(array, false);
		otherIn = true;
		orderKept = released.load();
		array->Push(VJSONValue(2.0));
	});
	ASSERT_TRUE(other->Run());
	while (other->GetWaitReason() != eTaskWaitReasonMessage && !otherIn)
		std::this_thread::yield();
	EXPECT_FALSE(otherIn.load());
	released = true;
	locker->EndUse();
	EXPECT_TRUE(other->WaitForDeath(kForever));
	other->Release();
	EXPECT_TRUE(orderKept);
	EXPECT_EQ(array->GetCount(), 2u);
	EXPECT_EQ(locker->GetUser(), 0);
	array->Release();
}

// Deciding whether a cyclic tree can join a locker ends, one child that cannot join keeps the whole tree
// out, and joining walks the cycle once.
TEST(VStorageLocker, CanMakeSharedEndsOnCyclesAndNeedsEveryChild)
{
	VTask::FlushErrors();
	VStorageLocker* locker = new VStorageLocker;
	VJSONValue a(JSON_object);
	VJSONValue b(JSON_array);
	a.SetProperty(VString("b"), b);
	b.GetArray()->Push(a);
	EXPECT_TRUE(a.GetObject()->_CanMakeShared(locker));

	VStorageLocker* foreign = new VStorageLocker;
	foreign->SetEstablished();
	VJSONObject* blocked = new VJSONObject(nullptr, nullptr, foreign, false);
	b.GetArray()->Push(VJSONValue(blocked));
	b.GetArray()->Push(VJSONValue(3.0));
	EXPECT_FALSE(a.GetObject()->_CanMakeShared(locker));
	b.GetArray()->RemoveAt(1, 1);
	EXPECT_TRUE(a.GetObject()->_CanMakeShared(locker));

	VJSONArray* holder = new VJSONArray(locker);
	holder->MakeValueSharedIfNecessary(a);
	EXPECT_EQ(a.GetObject()->GetStorageLocker().Get(), locker);
	EXPECT_EQ(b.GetArray()->GetStorageLocker().Get(), locker);
	EXPECT_EQ(holder->GetSharedID(), int32(locker->GetID()));
	{
		// Break the cycle so that the tree is freed.
		VJSONUser user(holder, false);
		b.GetArray()->Clear();
	}
	EXPECT_EQ(b.GetArray()->GetCount(), 0u);
	holder->Release();
	blocked->Release();
	foreign->Release();
	locker->Release();
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

}  // namespace
}  // namespace velk
