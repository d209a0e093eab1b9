// Call contexts: typed parameter getters with their errors and fallbacks, root and child contexts, and
// calling a function object.

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONFunctionContext.h"
#include "kernel/json/VJSONObject.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// Runs one getter on a root context holding param alone, in an error scope of its own, and checks the
// error it recorded and the parameter-validity flag it left.
void Get(const VJSONValue& param, VError error, bool valid, const std::function<void(IJSONFunctionContext&)>& getter)
{
	StErrorContextInstaller scope(false, false);
	std::vector<VJSONValue> parameters{param};
	VJSONFunctionContext context(nullptr, nullptr, &parameters, nullptr, nullptr);
	getter(context);
	EXPECT_EQ(VTask::GetLastError(), error);
	EXPECT_EQ(context.GetParamsValid(), valid);
}

TEST(VJSONFunctionContext, NumberParams)
{
	constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
	constexpr double kInf = std::numeric_limits<double>::infinity();
	constexpr int32 kMax = std::numeric_limits<int32>::max();
	constexpr int32 kMin = std::numeric_limits<int32>::min();
	constexpr VError k7 = VE_JSON_NUMBER_EXPECTED;
	struct Row
	{
		VJSONValue param;
		double number;  // GetNumberParam
		int32 integer;  // GetLongParam
		VError error;   // of both
		VError optError;  // of GetNumberOptParam, which finds numbers only
	};
	const Row rows[] = {
		{VJSONValue(12.75), 12.75, 12, VE_OK, VE_OK},
		{VJSONValue(-2.7), -2.7, -2, VE_OK, VE_OK},
		{VJSONValue(kNaN), kNaN, 0, VE_OK, VE_OK},
		{VJSONValue(1e12), 1e12, kMax, VE_OK, VE_OK},
		{VJSONValue(-1e12), -1e12, kMin, VE_OK, VE_OK},
		{VJSONValue(kInf), kInf, kMax, VE_OK, VE_OK},
		{VJSONValue(VString("3.5")), 3.5, 3, k7, k7},
		{VJSONValue(VString("-5e20")), -5e20, kMin, k7, k7},
		{VJSONValue::sTrue, 1.0, 1, k7, k7},
		{VJSONValue::sNull, 0.0, 0, k7, k7},
		// Absent: GetNumberOptParam records nothing but still clears the flag.
		{VJSONValue::sUndefined, 0.0, 0, k7, VE_OK},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(&row - rows);
		const bool valid = row.error == VE_OK;
		Get(row.param, row.error, valid, [&](IJSONFunctionContext& context) {
			const double number = context.GetNumberParam(1);
			EXPECT_TRUE(number == row.number || (std::isnan(number) && std::isnan(row.number))) << number;
		});
		Get(row.param, row.error, valid, [&](IJSONFunctionContext& context) { EXPECT_EQ(context.GetLongParam(1), row.integer); });
		Get(row.param, row.optError, valid, [&](IJSONFunctionContext& context) {
			double out = -1.0;
			EXPECT_EQ(context.GetNumberOptParam(1, &out), valid);
			EXPECT_TRUE(valid && std::isnan(row.number) ? std::isnan(out) : out == (valid ? row.number : -1.0)) << out;
		});
	}
}

TEST(VJSONFunctionContext, BoolParams)
{
	VJSONValue date;
	date.SetDate(2024, 3, 5);
	struct Row
	{
		VJSONValue param;
		bool expected;
	};
	const Row rows[] = {
		{VJSONValue::sTrue, true}, {VJSONValue::sFalse, false}, {VJSONValue(3.0), true}, {VJSONValue(0.0), false},
		{VJSONValue(VString("no")), true}, {VJSONValue(VString("")), false}, {VJSONValue(JSON_object), true},
		{VJSONValue(JSON_array), true}, {date, true}, {VJSONValue::sNull, false}, {VJSONValue::sUndefined, false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.param.GetType());
		const bool valid = row.param.IsBool();
		Get(row.param, valid ? VE_OK : VE_JSON_BOOLEAN_EXPECTED, valid,
			[&](IJSONFunctionContext& context) { EXPECT_EQ(context.GetBoolParam(1), row.expected); });
	}
}

// String, object, array and blob getters on every kind: each accepts its own kind only.
TEST(VJSONFunctionContext, TextAndContainerParams)
{
	VJSONValue date;
	date.SetDate(2024, 3, 5);
	const VJSONValue params[] = {VJSONValue(VString("abc")), VJSONValue(JSON_object), VJSONValue(JSON_array),
		VJSONValue(2.0), VJSONValue::sTrue, VJSONValue::sNull, VJSONValue::sUndefined, date};
	for (const VJSONValue& param : params)
	{
		SCOPED_TRACE(param.GetType());
		Get(param, param.IsString() ? VE_OK : VE_JSON_STRING_EXPECTED, param.IsString(), [&](IJSONFunctionContext& context) {
			EXPECT_TRUE(context.GetStringParam(1).EqualToString(param.IsString() ? VString("abc") : VString(), true));
		});
		Get(param, param.IsObject() ? VE_OK : VE_JSON_CONTAINER_EXPECTED, param.IsObject(), [&](IJSONFunctionContext& context) {
			VJSONObject* object = context.GetObjectParam(1);
			EXPECT_EQ(object, param.GetObject());
			if (object != nullptr)
			{
				// Retained for the caller: the parameter, its copy in the list and this reference.
				EXPECT_EQ(object->GetRefCount(), 3);
				object->Release();
			}
		});
		Get(param, param.IsArray() ? VE_OK : VE_JSON_CONTAINER_EXPECTED, param.IsArray(), [&](IJSONFunctionContext& context) {
			VJSONArray* array = context.GetArrayParam(1);
			EXPECT_EQ(array, param.GetArray());
			if (array != nullptr)
				array->Release();
		});
		for (const bool optional : {true, false})
		{
			Get(param, optional ? VE_OK : VE_JSON_CONTAINER_EXPECTED, optional, [&](IJSONFunctionContext& context) {
				const VJSONBlobView blob = context.GetBlobParam(1, optional);
				EXPECT_TRUE(!blob.fFound && blob.fData == nullptr && blob.fSize == 0);
			});
		}
	}
}

TEST(VJSONFunctionContext, RootAndChildContexts)
{
	VJSONValue thisObject(JSON_object), childObject(JSON_object), thisArray(JSON_array);
	std::vector<VJSONValue> parameters{VJSONValue(1.0), VJSONValue(VString("two"))};
	auto* base = reinterpret_cast<CDBRyBaseContext*>(uintptr_t(0x10));
	auto* language = reinterpret_cast<VDBLanguageContext*>(uintptr_t(0x20));
	VJSONFunctionContext root(thisObject.GetObject(), thisArray.GetArray(), &parameters, base, language);
	VJSONFunctionContext child(childObject.GetObject(), nullptr, &root);

	for (const IJSONFunctionContext* context : {static_cast<IJSONFunctionContext*>(&root), static_cast<IJSONFunctionContext*>(&child)})
	{
		EXPECT_EQ(context->GetParamCount(), 2);
		EXPECT_TRUE(context->GetParam(0).IsUndefined());
		EXPECT_EQ(context->GetParam(1).GetNumber(), 1.0);
		EXPECT_TRUE(context->GetParam(2).GetString().EqualToString(VString("two"), true));
		EXPECT_TRUE(context->GetParam(3).IsUndefined());
		std::vector<VJSONValue>* list = nullptr;
		EXPECT_EQ(context->GetParametersAsJSONValues(&list), eJSONStatusHandled);
		EXPECT_EQ(list, &parameters);
		EXPECT_EQ(context->GetBaseContext(), base);
		EXPECT_EQ(context->GetLanguageContext(), language);
		EXPECT_EQ(context->GetScopeFunctionObject(), nullptr);
		EXPECT_EQ(context->GetScopeClass(), nullptr);
	}
	EXPECT_EQ(root.GetThisObject(), thisObject.GetObject());
	EXPECT_EQ(child.GetThisObject(), childObject.GetObject());
	EXPECT_EQ(child.GetThisArray(), nullptr);
	EXPECT_EQ(root.GetParameterList(nullptr, nullptr, nullptr, nullptr), eJSONStatusNotHandled);

	VJSONValue result;
	root.GetResult(result);
	EXPECT_TRUE(result.IsUndefined());
	EXPECT_EQ(root.GetResultLegacyValueKind(), 5);
	root.SetResult(VJSONValue(4.0), 1);
	EXPECT_EQ(root.GetResultLegacyValueKind(), 1);
	// A child's result lands in its parent, with legacy kind 5.
	child.SetResult(VJSONValue(VString("child")), 1);
	root.GetResult(result);
	EXPECT_TRUE(result.GetString().EqualToString(VString("child"), true));
	EXPECT_EQ(root.GetResultLegacyValueKind(), 5);
	child.GetResult(result);
	EXPECT_TRUE(result.IsString());

	VJSONFunctionContext empty(nullptr, nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(empty.GetParamCount(), 0);
	EXPECT_TRUE(empty.GetParam(1).IsUndefined());
}

// Adds its number parameters into the result; fails on anything else.
class Adder : public VObject, public IJSONObject
{
public:
	EJSONStatus IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext* context) override
	{
		double sum = 0;
		for (int i = 1; i <= context->GetParamCount(); ++i)
			sum += context->GetNumberParam(i);
		if (!context->GetParamsValid())
			return eJSONStatusFailed;
		context->SetResult(VJSONValue(sum), 5);
		return eJSONStatusHandled;
	}
};

TEST(VJSONFunctionContext, CallAsFunction)
{
	Adder* adder = new Adder;
	VJSONObject* function = new VJSONObject(nullptr, adder, false);
	adder->Release();

	std::vector<VJSONValue> numbers{VJSONValue(1.5), VJSONValue(2.0)};
	VJSONValue result;
	EXPECT_EQ(function->CallAsFunction(nullptr, nullptr, &numbers, result, nullptr, nullptr), eJSONStatusHandled);
	EXPECT_EQ(result.GetNumber(), 3.5);

	{
		StErrorContextInstaller scope(false, false);
		std::vector<VJSONValue> mixed{VJSONValue(1.0), VJSONValue::sTrue};
		result.SetNumber(9.0);
		EXPECT_EQ(function->CallAsFunction(nullptr, nullptr, &mixed, result, nullptr, nullptr), eJSONStatusFailed);
		EXPECT_EQ(VTask::GetLastError(), VE_JSON_NUMBER_EXPECTED);
		EXPECT_TRUE(result.IsUndefined());
	}

	// A plain object is not callable, and the result is left alone.
	VJSONValue plain(JSON_object);
	result.SetNumber(9.0);
	EXPECT_EQ(plain.GetObject()->CallAsFunction(nullptr, nullptr, &numbers, result, nullptr, nullptr),
		eJSONStatusNotHandled);
	EXPECT_EQ(result.GetNumber(), 9.0);
	function->Release();
}

}  // namespace
}  // namespace velk
