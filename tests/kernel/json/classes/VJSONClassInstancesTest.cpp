#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kernel/json/IJSONFunctionContext.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONFunctionContext.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "kernel/json/classes/VJSONMemberFunction.h"
#include "kernel/json/classes/VJSONSuper.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// What a host that runs class code gives its functions: the function being executed, whose class is the
// scope of super() and of super members.
class ScopedCall : public VJSONFunctionContext
{
public:
	ScopedCall(IJSONFunctionContext* parent, VJSONObject* function)
		: VJSONFunctionContext(parent->GetThisObject(), parent->GetThisArray(), parent), fFunction(function)
	{
	}
	VJSONObject* GetScopeFunctionObject() const override { return fFunction; }
	VJSONObject* GetScopeThisObject() const override { return GetThisObject(); }

private:
	VJSONObject* fFunction;
};

std::vector<std::string> sLog;
bool sCallSuper = false;

EJSONStatus Construct(const char* name, const VJSONObject* function, IJSONFunctionContext* context)
{
	sLog.push_back(name);
	if (sCallSuper)
	{
		ScopedCall scoped(context, const_cast<VJSONObject*>(function));
		VJSONClass::CallSuperConstructor(&scoped);
	}
	return eJSONStatusHandled;
}

EJSONStatus ConstructR(const VJSONObject* function, IJSONFunctionContext* context) { return Construct("R", function, context); }
EJSONStatus ConstructB(const VJSONObject* function, IJSONFunctionContext* context) { return Construct("B", function, context); }

EJSONStatus InitCount(const VJSONObject*, IJSONFunctionContext* context)
{
	sLog.push_back("init");
	context->SetResult(VJSONValue(3.0), 5);
	return eJSONStatusHandled;
}

EJSONStatus Greet(const VJSONObject*, IJSONFunctionContext* context)
{
	context->SetResult(VJSONValue(VString("hello from R")), 5);
	return eJSONStatusHandled;
}

VJSONClass* ClassOf(const VRefPtr<VJSONObject>& classObject)
{
	return static_cast<VJSONClass*>(classObject->GetImplementation());
}

// "new" through the class object, as script code would call it.
VJSONValue CallNew(VJSONObject* classObject)
{
	VJSONValue result;
	VJSONValue newFunction = classObject->GetProperty(VString("new"));
	EXPECT_NE(newFunction.GetObject(), nullptr);
	if (newFunction.GetObject() != nullptr)
		newFunction.GetObject()->CallAsFunction(classObject, nullptr, nullptr, result, nullptr, nullptr);
	return result;
}

// R -> B -> D: the constructed depth, the constructors that run and the super() rule.
TEST(VJSONClassInstances, ConstructorsAlongTheChain)
{
	struct Row
	{
		const char* name;
		bool rootConstructor;
		bool callSuper;
		std::vector<std::string> log;
		VError error;
	};
	const Row rows[] = {
		{"only B constructs, no super()", false, false, {"init", "B"}, VE_OK},
		{"R and B construct, super() called", true, true, {"init", "B", "R"}, VE_OK},
		{"R and B construct, super() omitted", true, false, {"init", "B"}, VE_JSON_SUPER_NOT_CALLED},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VTask::FlushErrors();
		sLog.clear();
		sCallSuper = row.callSuper;
		VRefPtr<VJSONObject> r(VJSONClass::Create(VString("R"), {{VString("greet"), &Greet, 0}}, nullptr,
			row.rootConstructor ? &ConstructR : nullptr, &VJSONClass::GenericInstantiator, VString("test"), 0), true);
		VRefPtr<VJSONObject> b(VJSONClass::Create(VString("B"), {}, r.Get(), &ConstructB, &VJSONClass::GenericInstantiator,
			VString("test"), 0), true);
		VRefPtr<VJSONObject> d(VJSONClass::Create(VString("D"), {{VString("init count"), &InitCount, 0}}, b.Get(), nullptr,
			&VJSONClass::GenericInstantiator, VString("test"), 0), true);
		ASSERT_TRUE(r && b && d);
		const VJSONValue made = CallNew(d.Get());
		VJSONObject* instance = made.GetObject();
		ASSERT_NE(instance, nullptr);
		EXPECT_EQ(sLog, row.log);
		EXPECT_EQ(VTask::GetLastError(), row.error);
		VTask::FlushErrors();
		EXPECT_EQ(instance->GetProperty(VString("count")).GetNumber(), 3.0);
		EXPECT_EQ(instance->GetClassKind(), uint32(ClassOf(d)->GetDepth()));
		EXPECT_FALSE(instance->IsUnderConstruction());
		EXPECT_TRUE(instance->IsInstanceOf(r.Get()));
		EXPECT_FALSE(r->IsInstanceOf(d.Get()));
		EXPECT_FALSE(instance->IsInstanceOf(instance));
		EXPECT_EQ(VTask::GetLastError(), VE_JSON_NOT_A_CLASS_OBJECT);
		VTask::FlushErrors();
		VString className;
		instance->GetClassName(className);
		EXPECT_TRUE(className.EqualToStringRaw(VString("D")));
		VTask::FlushErrors();

		// super() once constructed is refused.
		VJSONFunctionContext root(instance, nullptr, nullptr, nullptr, nullptr);
		ScopedCall afterwards(&root, ClassOf(b)->GetConstructor());
		EXPECT_EQ(VJSONClass::CallSuperConstructor(&afterwards), eJSONStatusFailed);
		EXPECT_EQ(VTask::GetLastError(), VE_JSON_SUPER_OUTSIDE_CONSTRUCTOR);
		VTask::FlushErrors();

		// super.greet() from D's code reaches R's prototype; a name no prototype has fails.
		struct Member
		{
			const char* name;
			EJSONStatus status;
			VError error;
		};
		for (const Member& member : {Member{"greet", eJSONStatusHandled, VE_OK}, Member{"missing", eJSONStatusFailed, VE_JSON_NOT_A_FUNCTION}})
		{
			VRefPtr<VJSONObject> superMember(VJSONSuperMember::CreateObject(VString(member.name)), true);
			const VRefPtr<VJSONObject> initCount(ClassOf(d)->GetFunction(VString("init count")));
			ScopedCall inD(&root, initCount.Get());
			EXPECT_EQ(superMember->GetImplementation()->IJSON_CallAsFunction(superMember.Get(), &inD), member.status);
			EXPECT_EQ(VTask::GetLastError(), member.error);
			VTask::FlushErrors();
		}
		VJSONValue greeting;
		root.GetResult(greeting);
		EXPECT_TRUE(greeting.GetString().EqualToStringRaw(VString("hello from R")));
	}
	// A class whose functions were never defined makes nothing and records nothing.
	VRefPtr<VJSONObject> undefinedClass(VJSONClass::Create(VString("Undefined"), nullptr, nullptr, VString("test"), 0), true);
	EXPECT_TRUE(CallNew(undefinedClass.Get()).IsNull());
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
	// The root classes have no instantiator.
	EXPECT_TRUE(CallNew(VProcess::sInstance->GetClassStore()->GetRootObjectClass()).IsNull());
	EXPECT_EQ(VTask::GetLastError(), VE_JSON_NO_INSTANTIATOR);
	VTask::FlushErrors();
}

VJSONObject* sSeenThis = nullptr;
VJSONArray* sSeenThisArray = nullptr;
std::vector<double> sSeenParameters;

EJSONStatus Record(const VJSONObject*, IJSONFunctionContext* context)
{
	sSeenThis = context->GetThisObject();
	sSeenThisArray = context->GetThisArray();
	sSeenParameters.clear();
	for (int32 i = 1; i <= context->GetParamCount(); ++i)
		sSeenParameters.push_back(context->GetParam(i).GetNumber());
	context->SetResult(VJSONValue(1.0), 5);
	return eJSONStatusHandled;
}

// function.apply and function.call: where the this argument and the parameters go.
TEST(VJSONClassInstances, ApplyAndCall)
{
	VTask::FlushErrors();
	VRefPtr<VJSONObject> function(VJSONMemberFunction::Create(&Record, VString("record"), nullptr, 0), true);
	ASSERT_TRUE(IsObjectAFormula(function.Get()));
	VRefPtr<VJSONObject> target(new VJSONObject(nullptr, nullptr, false), true);
	VRefPtr<VJSONArray> thisArray(new VJSONArray(), true);
	VRefPtr<VJSONArray> arguments(new VJSONArray(), true);
	arguments->Push(VJSONValue(1.0));
	arguments->Push(VJSONValue(2.0));
	struct Row
	{
		const char* name;
		const char* method;
		std::vector<VJSONValue> parameters;
		VJSONObject* thisObject;
		VJSONArray* thisArray;
		std::vector<double> seen;
	};
	const Row rows[] = {
		{"apply, array this", "apply", {VJSONValue(thisArray.Get()), VJSONValue(arguments.Get())}, nullptr, thisArray.Get(), {1, 2}},
		{"apply, no array", "apply", {VJSONValue(target.Get()), VJSONValue(5.0)}, target.Get(), nullptr, {}},
		{"call with parameters", "call", {VJSONValue(target.Get()), VJSONValue(1.0), VJSONValue(2.0)}, target.Get(), nullptr, {1, 2}},
		{"call without parameters", "call", {}, nullptr, nullptr, {}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VJSONValue method = function->GetProperty(VString(row.method));
		ASSERT_NE(method.GetObject(), nullptr);
		std::vector<VJSONValue> parameters = row.parameters;
		VJSONValue result;
		EXPECT_EQ(method.GetObject()->CallAsFunction(function.Get(), nullptr, &parameters, result, nullptr, nullptr),
			eJSONStatusHandled);
		EXPECT_EQ(sSeenThis, row.thisObject);
		EXPECT_EQ(sSeenThisArray, row.thisArray);
		EXPECT_EQ(sSeenParameters, row.seen);
		EXPECT_EQ(result.GetNumber(), 1.0);
	}
	// Not a function.
	VJSONValue apply = function->GetProperty(VString("apply"));
	VJSONValue result;
	EXPECT_EQ(apply.GetObject()->CallAsFunction(target.Get(), nullptr, nullptr, result, nullptr, nullptr), eJSONStatusFailed);
	EXPECT_EQ(VTask::GetLastError(), VE_JSON_NOT_A_FUNCTION);
	VString description;
	function->GetDescription(description, false);
	EXPECT_TRUE(description.EqualToStringRaw(VString("<<Native Function: record >>")));
	VTask::FlushErrors();
}

// A method that calls super.greet() as class code would.
EJSONStatus SpeakThroughSuper(const VJSONObject* function, IJSONFunctionContext* context)
{
	ScopedCall scoped(context, const_cast<VJSONObject*>(function));
	VRefPtr<VJSONObject> member(VJSONSuperMember::CreateObject(VString("greet")), true);
	return member->GetImplementation()->IJSON_CallAsFunction(member.Get(), &scoped);
}

EJSONStatus CallFunction(const VJSONValue& function, VJSONValue& result)
{
	VJSONFunctionContext context(nullptr, nullptr, nullptr, nullptr, nullptr);
	const EJSONStatus status = function.GetObject()->GetImplementation()->IJSON_CallAsFunction(function.GetObject(), &context);
	context.GetResult(result);
	return status;
}

// A function kept after its class has gone no longer reaches the class it was lent by: super() and super
// members fail as outside any class rather than reading the freed class.
TEST(VJSONClassInstances, FunctionOutlivingItsClassFailsCleanly)
{
	VTask::FlushErrors();
	VJSONValue speak;
	{
		VRefPtr<VJSONObject> lender(VJSONClass::Create(VString("Lender"), {{VString("greet"), &Greet, 0}}, nullptr, nullptr,
										&VJSONClass::GenericInstantiator, VString("test"), 0),
			true);
		VRefPtr<VJSONObject> borrower(VJSONClass::Create(VString("Borrower"), {{VString("speak"), &SpeakThroughSuper, 0}},
										  lender.Get(), nullptr, &VJSONClass::GenericInstantiator, VString("test"), 0),
			true);
		speak = borrower->GetProperty(VString("__prototype")).GetProperty(VString("speak"));
		ASSERT_NE(speak.GetObject(), nullptr);
		VJSONValue result;
		ASSERT_EQ(CallFunction(speak, result), eJSONStatusHandled);
		EXPECT_TRUE(result.GetString().EqualToStringRaw(VString("hello from R")));
	}
	VJSONValue result;
	EXPECT_EQ(CallFunction(speak, result), eJSONStatusFailed);
	EXPECT_EQ(VTask::GetLastError(), VE_JSON_NO_SCOPE_CLASS);
	VJSONFunctionContext context(nullptr, nullptr, nullptr, nullptr, nullptr);
	ScopedCall scoped(&context, speak.GetObject());
	EXPECT_EQ(scoped.GetScopeClass(), nullptr);
	VTask::FlushErrors();
}

std::atomic<int> sConstructions{0};
VJSONObject* sSelfSeen = reinterpret_cast<VJSONObject*>(1);

VJSONClassStore* sReleasingStore = nullptr;
VJSONClassStore* sLookupStore = nullptr;
std::thread sReleaser;

// A singleton constructor that reaches the store (as class code does) and asks for its own singleton.
// With a store to release, it first lets another thread release the store's singletons while it holds
// its singleton lock.
EJSONStatus ConstructSingleton(const VJSONObject*, IJSONFunctionContext* context)
{
	sConstructions.fetch_add(1);
	if (VJSONClassStore* store = std::exchange(sReleasingStore, nullptr))
	{
		std::atomic<bool> started{false};
		sReleaser = std::thread([store, &started] {
			started.store(true);
			store->ReleaseSingletons();
		});
		while (!started.load())
			std::this_thread::yield();
		// Gives the releaser the time to reach the singleton lock; the outcome does not depend on it.
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
	VRefPtr<VJSONObject> object = sLookupStore->GetClassObject(VString("Single"), false);
	VJSONClass* theClass = context->GetThisObject()->GetClass();
	sSelfSeen = theClass->GetInternalSingleton(nullptr, nullptr).Get();
	return object ? eJSONStatusHandled : eJSONStatusFailed;
}

// A shared singleton asked for from several threads, also while the store releases singletons.
TEST(VJSONClassInstances, SharedSingletonAcrossThreads)
{
	VTask::FlushErrors();
	VRefPtr<VJSONClassStore> store(new VJSONClassStore(VString("threads")), true);
	VRefPtr<VJSONObject> classObject
		= store->AddClass(VString("Single"), {}, nullptr, &ConstructSingleton, &VJSONClass::SharedObjectInstantiator, 0x60);
	ASSERT_TRUE(classObject);
	sLookupStore = store.Get();
	VJSONClass* theClass = ClassOf(classObject);
	constexpr int kThreads = 4;
	std::vector<VJSONObject*> seen(kThreads, nullptr);
	{
		std::vector<std::thread> threads;
		for (int i = 0; i < kThreads; ++i)
			threads.emplace_back([&, i] { seen[size_t(i)] = theClass->GetInternalSingleton(nullptr, nullptr).Get(); });
		for (std::thread& thread : threads)
			thread.join();
	}
	EXPECT_EQ(sConstructions.load(), 1);
	for (VJSONObject* object : seen)
		EXPECT_EQ(object, seen[0]);
	EXPECT_NE(seen[0], nullptr);
	// Its own constructor found none.
	EXPECT_EQ(sSelfSeen, nullptr);
	EXPECT_EQ(classObject->GetProperty(VString("me")).GetObject(), seen[0]);

	// A release that runs while a constructor holds the singleton lock waits for it without holding the
	// store lock, which the constructor takes.
	store->ReleaseSingletons();
	sReleasingStore = store.Get();
	EXPECT_TRUE(theClass->GetInternalSingleton(nullptr, nullptr));
	sReleaser.join();

	// Releasing while constructors take the store lock under their singleton lock must not deadlock;
	// every ask answers a singleton.
	std::atomic<int> missing{0};
	{
		std::vector<std::thread> threads;
		for (int i = 0; i < kThreads; ++i)
		{
			threads.emplace_back([&] {
				for (int round = 0; round < 200; ++round)
				{
					if (!theClass->GetInternalSingleton(nullptr, nullptr))
						missing.fetch_add(1);
				}
			});
		}
		threads.emplace_back([&] {
			for (int round = 0; round < 200; ++round)
				store->ReleaseSingletons();
		});
		for (std::thread& thread : threads)
			thread.join();
	}
	EXPECT_EQ(missing.load(), 0);
	// After a release the next ask makes a new one.
	store->ReleaseSingletons();
	const int before = sConstructions.load();
	EXPECT_TRUE(theClass->GetInternalSingleton(nullptr, nullptr));
	EXPECT_EQ(sConstructions.load(), before + 1);
	store->ReleaseSingletons();
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

// An instance of a class survives the binary form: the class is named and looked up again.
TEST(VJSONClassInstances, BinaryRoundTripKeepsTheClass)
{
	VTask::FlushErrors();
	VJSONClassStore* processStore = VProcess::sInstance->GetClassStore();
	VRefPtr<VJSONClassStore> component(new VJSONClassStore(VString("bin")), true);
	processStore->AddComponentClassStore(VString("bin"), component.Get());
	VRefPtr<VJSONObject> classObject = component->AddClass(VString("Point"), {}, nullptr, nullptr, &VJSONClass::GenericInstantiator, 0);
	VRefPtr<VJSONObject> instance(ClassOf(classObject)->CreateInstance(classObject.Get(), nullptr), true);
	instance->SetProperty(VString("x"), VJSONValue(4.0));
	VRefPtr<VJSONObject> plain(new VJSONObject(nullptr, nullptr, false), true);
	plain->SetProperty(VString("p"), VJSONValue(instance.Get()));

	VJSONBinaryWriter writer(0);
	VJSONBinaryWriter::Buffer buffer;
	ASSERT_EQ(writer.StreamObject(plain.Get(), buffer), VE_OK);
	const uint8* bytes = buffer.GetDataPtr();
	const size_t size = size_t(buffer.GetDataSize());
	// The outer plain object ends with 0xFFFF; the instance with "****", the size and the two names.
	EXPECT_EQ(bytes[size - 2], 0xFF);
	EXPECT_EQ(bytes[size - 1], 0xFF);
	const std::string tail(reinterpret_cast<const char*>(bytes) + size - 2 - 20, 20);
	EXPECT_EQ(tail.substr(0, 4), std::string("\x03\x00" "b\x00", 4));

	VJSONBinaryImporter importer(bytes, size);
	VJSONValue read;
	ASSERT_EQ(importer.GetValue(read), VE_OK);
	VJSONObject* readInstance = read.GetObject()->GetProperty(VString("p")).GetObject();
	ASSERT_NE(readInstance, nullptr);
	EXPECT_EQ(readInstance->GetClassObject(), classObject.Get());
	EXPECT_EQ(readInstance->GetClassKind(), uint32(ClassOf(classObject)->GetDepth()));
	EXPECT_EQ(readInstance->GetProperty(VString("x")).GetNumber(), 4.0);
	EXPECT_TRUE(read.GetObject()->IsGenericObject());
	processStore->RemoveComponentClassStores();
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

}  // namespace
}  // namespace velk
