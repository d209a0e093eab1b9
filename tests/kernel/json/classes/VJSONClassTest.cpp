#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "kernel/json/IJSONFunctionContext.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONPropertyIterator.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

VRefPtr<VJSONObject> MakeClass(const char* name, uint32 flags, const std::vector<VJSONClass::FunctionDescriptor>& functions,
	VJSONObject* superclass = nullptr)
{
	VRefPtr<VJSONObject> classObject(
		VJSONClass::Create(VString(name), functions, superclass, nullptr, &VJSONClass::GenericInstantiator, VString("test"), flags),
		true);
	return classObject;
}

EJSONStatus ReturnSeven(const VJSONObject*, IJSONFunctionContext* context)
{
	context->SetResult(VJSONValue(7.0), 5);
	return eJSONStatusHandled;
}

VRefPtr<VJSONObject> NewInstance(VJSONObject* classObject)
{
	return VRefPtr<VJSONObject>(static_cast<VJSONClass*>(classObject->GetImplementation())->CreateInstance(classObject, nullptr), true);
}

// The keywords of a class object: what reading and writing each answers.
TEST(VJSONClass, ClassObjectKeywords)
{
	VTask::FlushErrors();
	VRefPtr<VJSONObject> plain = MakeClass("Plain", 0, {});
	VRefPtr<VJSONObject> session = MakeClass("Session", VJSONClass::kSessionSingleton, {});
	VRefPtr<VJSONObject> object = VProcess::sInstance->GetClassObject(VString("ry"), VString("Object"));
	struct Row
	{
		VJSONObject* classObject;
		const char* name;
		JSONType readType;
		const char* readText;  // for strings
		bool writeRefused;  // RyRT -10702 on writing and removing
	};
	const Row rows[] = {
		{plain.Get(), "name", JSON_string, "Plain", true},
		{plain.Get(), "isSingleton", JSON_false, nullptr, true},
		{plain.Get(), "isShared", JSON_false, nullptr, true},
		{session.Get(), "isSingleton", JSON_true, nullptr, true},
		{session.Get(), "isShared", JSON_true, nullptr, true},
		{session.Get(), "isSessionSingleton", JSON_true, nullptr, true},
		{plain.Get(), "superclass", JSON_object, nullptr, true},
		{plain.Get(), "__prototype", JSON_object, nullptr, true},
		{plain.Get(), "__file", JSON_undefined, nullptr, true},
		{plain.Get(), "_id", JSON_number, nullptr, true},
		{plain.Get(), "_instanceCount", JSON_number, nullptr, false},
		{object.Get(), "superclass", JSON_null, nullptr, true},
		// Without the singleton flag "me" is an ordinary (static) property.
		{plain.Get(), "me", JSON_undefined, nullptr, true},
		{plain.Get(), "staticData", JSON_undefined, nullptr, false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		const VJSONValue value = row.classObject->GetProperty(VString(row.name));
		EXPECT_EQ(value.GetType(), row.readType);
		if (row.readText != nullptr)
		{
			EXPECT_TRUE(value.GetString().EqualToStringRaw(VString(row.readText)));
		}
		VTask::FlushErrors();
		const bool stored = row.classObject->SetProperty(VString(row.name), VJSONValue(1.0));
		if (row.writeRefused)
		{
			EXPECT_FALSE(stored);
			EXPECT_EQ(VTask::GetLastError(), VE_JSON_CLASS_READ_ONLY);
		}
		VTask::FlushErrors();
	}
	// "_instanceCount" cannot be set, "_creationCount" can; NaN and out-of-range numbers convert as every
	// real-to-integer conversion does.
	EXPECT_FALSE(plain->SetProperty(VString("_instanceCount"), VJSONValue(3.0)));
	EXPECT_EQ(VTask::GetLastError(), VE_JSON_CLASS_READ_ONLY);
	VTask::FlushErrors();
	const struct
	{
		double assigned;
		double read;
	} counts[] = {{5.0, 5.0}, {std::nan(""), 0.0}, {-3.0, 0.0}, {1e30, double(std::numeric_limits<int64>::max())}};
	for (const auto& count : counts)
	{
		EXPECT_TRUE(plain->SetProperty(VString("_creationCount"), VJSONValue(count.assigned)));
		EXPECT_EQ(plain->GetProperty(VString("_creationCount")).GetNumber(), count.read);
	}
	// Static data lives in the class object's own storage.
	{
		VJSONUser user(plain.Get(), false);
		EXPECT_TRUE(plain->SetProperty(VString("staticData"), VJSONValue(2.0)));
	}
	EXPECT_EQ(plain->GetProperty(VString("staticData")).GetNumber(), 2.0);
	VString description;
	plain->GetDescription(description, false);
	EXPECT_TRUE(description.EqualToStringRaw(VString("Class: Plain")));
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

// Functions named "get p" and "set p" become accessors of p; the missing half refuses or reads undefined.
TEST(VJSONClass, AccessorsFromFunctionNames)
{
	VTask::FlushErrors();
	VRefPtr<VJSONObject> classObject = MakeClass("Accessors", 0,
		{{VString("get seven"), &ReturnSeven, 0}, {VString("set sink"), &ReturnSeven, 0}, {VString(" odd"), &ReturnSeven, 0},
			{VString("plain"), &ReturnSeven, 0}});
	VJSONClass* theClass = static_cast<VJSONClass*>(classObject->GetImplementation());
	VRefPtr<VJSONObject> instance = NewInstance(classObject.Get());
	ASSERT_TRUE(instance);

	EXPECT_EQ(instance->GetProperty(VString("seven")).GetNumber(), 7.0);
	EXPECT_TRUE(instance->GetProperty(VString("sink")).IsUndefined());
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
	EXPECT_FALSE(instance->SetProperty(VString("seven"), VJSONValue(1.0)));
	EXPECT_EQ(VTask::GetLastError(), VE_JSON_CLASS_READ_ONLY);
	EXPECT_FALSE(instance->HasOwnProperty(VString("seven")));
	VTask::FlushErrors();

	struct Row
	{
		const char* function;
		const char* eventName;  // null: no "eventName"
	};
	const Row rows[] = {{"get seven", "get"}, {"set sink", "set"}, {" odd", ""}, {"plain", nullptr}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.function);
		const VRefPtr<VJSONObject> function(theClass->GetFunction(VString(row.function)));
		ASSERT_TRUE(function);
		EXPECT_EQ(instance->GetProperty(VString(row.function)).GetObject(), function.Get());
		const VJSONValue eventName = function->GetOwnProperty(VString("eventName"));
		if (row.eventName == nullptr)
		{
			EXPECT_TRUE(eventName.IsUndefined());
		}
		else
		{
			EXPECT_TRUE(eventName.GetString().EqualToStringRaw(VString(row.eventName)));
		}
	}
	// A blank first gives no accessor role.
	EXPECT_FALSE(theClass->GetGetter(VString("odd")));
	const VRefPtr<VJSONObject> readOnly(theClass->GetSetter(VString("seven")));
	ASSERT_TRUE(readOnly);
	EXPECT_TRUE(readOnly->GetOwnProperty(VString("final")).GetBool());
	EXPECT_TRUE(readOnly->GetProperty(VString("_description")).GetString().EqualToStringRaw(VString("Accessors.set seven")));
	std::vector<VString> getters;
	theClass->GetGetterNames(getters);
	EXPECT_EQ(getters.size(), 2u);
	// The getters count as properties of an instance: listed after its own ones, not empty, stamped
	// with the object's stamp.
	instance->SetProperty(VString("own"), VJSONValue(1.0));
	std::vector<std::string> listed;
	for (VJSONPropertyConstOrderedIterator property(instance.Get(), 0); property.IsValid(); property.Next())
		listed.push_back(to_string(property.GetName()));
	ASSERT_EQ(listed.size(), 3u);
	EXPECT_EQ(listed[0], "own");
	// The JSON text of an instance shows its getters' values after its own properties.
	VString text;
	ASSERT_EQ(VJSONValue(instance.Get()).Stringify(text), VE_OK);
	EXPECT_EQ(to_string(text).rfind("{own:1,", 0), 0u) << to_string(text);
	EXPECT_NE(to_string(text).find("seven:7"), std::string::npos) << to_string(text);
	instance->RemoveProperty(VString("own"));
	EXPECT_FALSE(instance->IsEmpty());
	EXPECT_EQ(instance->GetPropertyStamp(VString("seven")), 0u);
	EXPECT_NE(instance->GetJSONStampPointer(), nullptr);

	// A second definition changes nothing.
	theClass->SetFunctions({{VString("other"), &ReturnSeven, 0}}, &ReturnSeven, &VJSONClass::GenericInstantiator);
	EXPECT_FALSE(theClass->GetFunction(VString("other")));
	EXPECT_EQ(theClass->GetConstructor(), nullptr);
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

// A callable of the host whose implementation cannot be placed in shared storage.
class UnsharableCallable : public VObject, public IJSONObject
{
public:
	EJSONStatus IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext* context) override
	{
		context->SetResult(VJSONValue(7.0), 5);
		return eJSONStatusHandled;
	}
};

VRefPtr<VJSONObject> MakeFunctionObject(bool plain)
{
	if (plain)
		return VRefPtr<VJSONObject>(new VJSONObject(nullptr, nullptr, false), true);
	UnsharableCallable* callable = new UnsharableCallable;
	VRefPtr<VJSONObject> function(new VJSONObject(nullptr, callable, false), true);
	callable->Release();
	return function;
}

// A class answers only with functions its holders own: one that a holder refused when the functions were
// defined, or one taken off the prototype afterwards, is not answered once its last other holder lets it
// go (it would be read after being freed).
TEST(VJSONClass, ClassAnswersOnlyFunctionsItsHoldersOwn)
{
	struct Row
	{
		const char* function;
		bool plain;  // a plain object; else a callable whose implementation cannot be shared
	};
	const Row rows[] = {{"get p", true}, {"set p", true}, {"init p", true}, {"get p", false}, {"set p", false},
		{"init p", false}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(row.function) + (row.plain ? " plain" : " unsharable"));
		VTask::FlushErrors();
		VRefPtr<VJSONObject> classObject(VJSONClass::Create(VString("Refused"), nullptr, nullptr, VString("test"), 0), true);
		ASSERT_TRUE(classObject);
		VJSONClass* theClass = static_cast<VJSONClass*>(classObject->GetImplementation());
		{
			std::vector<std::pair<VString, VRefPtr<VJSONObject>>> functions;
			functions.emplace_back(VString(row.function), MakeFunctionObject(row.plain));
			theClass->SetFunctions(functions, nullptr, &VJSONClass::GenericInstantiator);
		}
		// The holders refused the function: it cannot be shared.
		EXPECT_EQ(VTask::GetLastError(), MakeVError(kRYRT_SIGNATURE, -10721));
		VTask::FlushErrors();
		EXPECT_FALSE(theClass->GetGetter(VString("p")));
		EXPECT_FALSE(theClass->GetSetter(VString("p")));
		VRefPtr<VJSONObject> instance = NewInstance(classObject.Get());
		ASSERT_TRUE(instance);
		EXPECT_FALSE(instance->HasOwnProperty(VString("p")));
		EXPECT_TRUE(instance->GetProperty(VString("p")).IsUndefined());
		EXPECT_TRUE(instance->SetProperty(VString("p"), VJSONValue(1.0)));
		EXPECT_EQ(instance->GetOwnProperty(VString("p")).GetNumber(), 1.0);
		EXPECT_EQ(VTask::GetLastError(), VE_OK);
	}

	VTask::FlushErrors();
	VRefPtr<VJSONObject> classObject = MakeClass("Removed", 0, {{VString("foo"), &ReturnSeven, 0}, {VString("bar"), &ReturnSeven, 0}});
	VJSONClass* theClass = static_cast<VJSONClass*>(classObject->GetImplementation());
	const VJSONValue prototype = classObject->GetProperty(VString("__prototype"));
	ASSERT_NE(prototype.GetObject(), nullptr);
	{
		VJSONUser user(prototype, false);
		prototype.GetObject()->RemoveProperty(VString("foo"));
	}
	VRefPtr<VJSONObject> instance = NewInstance(classObject.Get());
	ASSERT_TRUE(instance);
	EXPECT_FALSE(theClass->GetFunction(VString("foo")));
	EXPECT_TRUE(instance->GetProperty(VString("foo")).IsUndefined());
	EXPECT_TRUE(instance->GetProperty(VString("bar")).IsObject());
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

}  // namespace
}  // namespace velk
