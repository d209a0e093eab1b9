#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONFunctionContext.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "kernel/json/classes/VJSONVector.h"
#include "kernel/values/VValueSingle.h"
#include "runtime/VTask.h"
#include "tests/kernel/json/classes/VJSONClassTesting.h"

namespace velk {
namespace {

VJSONValue Vector(std::vector<double> values)
{
	VJSONObject* object = VJSONVector::Create(std::move(values));
	VJSONValue value(object);
	if (object != nullptr)
		object->Release();
	return value;
}

VJSONValue Array(const std::vector<VJSONValue>& elements)
{
	VJSONValue array(JSON_array);
	for (const VJSONValue& element : elements)
		array.GetArray()->Push(element);
	return array;
}

EJSONStatus Call(VJSONObject* thisObject, const char* name, std::vector<VJSONValue> parameters, VJSONValue& result)
{
	VJSONValue function = VJSONVector::GetClass()->GetProperty(VString("__prototype")).GetProperty(VString(name));
	if (std::strcmp(name, "new") == 0)
		function = thisObject->GetProperty(VString(name));
	EXPECT_NE(function.GetObject(), nullptr) << name;
	return test::CallClassFunction(function, thisObject, std::move(parameters), result);
}

TEST(VJSONVector, ConcurrentFirstUseMakesOneClass)
{
	test::ExpectOneClassFromConcurrentFirstUse(&VJSONVector::GetClass, "Vector");
}

TEST(VJSONVector, Functions)
{
	struct Row
	{
		const char* name;
		const char* function;
		VJSONValue self;
		std::vector<VJSONValue> parameters;
		VError error;
		double result;
	};
	const VJSONValue plain(JSON_object);
	const Row rows[] = {
		{"orthogonal cosine", "cosineSimilarity", Vector({1, 0}), {Vector({0, 1})}, VE_OK, 0},
		{"parallel cosine", "cosineSimilarity", Vector({1, 2}), {Vector({2, 4})}, VE_OK, 1},
		{"zero cosine", "cosineSimilarity", Vector({0, 0}), {Vector({1, 1})}, VE_OK, 0},
		{"empty cosine", "cosineSimilarity", Vector({}), {Vector({})}, VE_OK, 0},
		{"distance", "euclideanDistance", Vector({1, 2}), {Vector({4, 6})}, VE_OK, 5},
		{"empty distance", "euclideanDistance", Vector({}), {Vector({})}, VE_OK, 0},
		{"dot", "dotSimilarity", Vector({1, 2}), {Vector({3, 4})}, VE_OK, 11},
		{"lengths differ", "dotSimilarity", Vector({1, 2}), {Vector({1, 2, 3})}, VE_JSON_VECTOR_LENGTHS_DIFFER, 0},
		{"not a vector", "dotSimilarity", Vector({1}), {Array({VJSONValue(1.0)})}, VE_INVALID_PARAMETER, 0},
		{"two parameters", "dotSimilarity", Vector({1}), {Vector({1}), Vector({1})}, VE_INVALID_PARAMETER, 0},
		{"this not a vector", "dotSimilarity", plain, {Vector({1})}, VE_INVALID_PARAMETER, 0},
		{"toCollection with a parameter", "toCollection", Vector({1}), {VJSONValue(1.0)}, VE_INVALID_PARAMETER, 0},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VTask::FlushErrors();
		VJSONValue result;
		const EJSONStatus status = Call(row.self.GetObject(), row.function, row.parameters, result);
		EXPECT_EQ(status, row.error == VE_OK ? eJSONStatusHandled : eJSONStatusFailed);
		EXPECT_EQ(VTask::GetLastError(), row.error);
		EXPECT_DOUBLE_EQ(row.error == VE_OK ? result.GetNumber() : 0.0, row.result);
	}

	VJSONValue collection;
	ASSERT_EQ(Call(Vector({1.5, -2}).GetObject(), "toCollection", {}, collection), eJSONStatusHandled);
	ASSERT_NE(collection.GetArray(), nullptr);
	EXPECT_EQ(collection.GetArray()->GetCount(), 2u);
	EXPECT_EQ(collection.GetArray()->GetAt(1).GetNumber(), -2.0);
	VTask::FlushErrors();
}

TEST(VJSONVector, NewAndObjectProtocol)
{
	struct Row
	{
		const char* name;
		std::vector<VJSONValue> parameters;
		VError error;
	};
	const Row rows[] = {
		{"numbers", {Array({VJSONValue(1.0), VJSONValue(2.0)})}, VE_OK},
		{"an element not a number", {Array({VJSONValue(1.0), VJSONValue(VString("2"))})}, VE_JSON_VECTOR_NOT_A_NUMBER},
		{"no parameter", {}, VE_INVALID_PARAMETER},
		{"two parameters", {Array({}), Array({})}, VE_INVALID_PARAMETER},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VTask::FlushErrors();
		VJSONValue result;
		ASSERT_EQ(Call(VJSONVector::GetClass(), "new", row.parameters, result), eJSONStatusHandled);
		EXPECT_EQ(VTask::GetLastError(), row.error);
		EXPECT_EQ(VJSONVector::CastJSONObject(result.GetObject()) != nullptr, row.error == VE_OK);
	}

	VTask::FlushErrors();
	const VJSONValue vector = Vector({1, 2, 3});
	VString text;
	ASSERT_EQ(vector.Stringify(text), VE_OK);
	EXPECT_TRUE(text.EqualToString(VString("\"[object Vector]\""), true));
	ASSERT_EQ(vector.GetObject()->GetDescription(text, false), VE_OK);
	EXPECT_TRUE(text.EqualToString(VString("Vector, length: 3"), true));
	EXPECT_EQ(vector.GetProperty(VString("length")).GetNumber(), 3.0);
	EXPECT_FALSE(vector.GetObject()->SetProperty(VString("length"), VJSONValue(1.0)));
	EXPECT_EQ(VTask::GetLastError(), VE_JSON_CLASS_READ_ONLY);
	EJSONStatus status = eJSONStatusHandled;
	vector.GetObject()->GetPropertyByIndex(3, &status);
	EXPECT_EQ(status, eJSONStatusFailed);
	EXPECT_EQ(VTask::GetLastError(), VE_JSON_INDEX_OUT_OF_RANGE);

	// A clone shares the values; no value kind holds a Vector, so a value made from one is the marker.
	VJSONValue clone;
	VJSONCloner cloner;
	ASSERT_EQ(vector.GetObject()->Clone(clone, cloner), VE_OK);
	EXPECT_NE(clone.GetObject(), vector.GetObject());
	EXPECT_EQ(VJSONVector::CastJSONObject(clone.GetObject())->GetData(), VJSONVector::CastJSONObject(vector.GetObject())->GetData());
	VValueSingle* value = vector.CreateVValue(true);
	ASSERT_NE(value, nullptr);
	EXPECT_EQ(value->GetValueInfo()->GetKind(), VK_STRING);
	delete value;
	VTask::FlushErrors();
}

TEST(VJSONVector, BinaryRoundTrips)
{
	VJSONBinaryWriter::Buffer buffer;
	VJSONBinaryWriter writer(0);
	ASSERT_EQ(writer.StreamValue(Vector({1.5, -2, 3}), buffer), VE_OK);
	const uint8* start = buffer.GetDataPtr();
	const uint8* end = start + buffer.GetDataSize();
	EXPECT_EQ(end[-32], 24);
	VJSONValue back;
	{
		VJSONBinaryImporter importer(buffer.GetDataPtr(), size_t(buffer.GetDataSize()));
		ASSERT_EQ(importer.GetValue(back), VE_OK);
	}
	const VJSONVector* vector = VJSONVector::CastJSONObject(back.GetObject());
	ASSERT_NE(vector, nullptr);
	EXPECT_EQ(vector->GetData()->GetValues(), (std::vector<double>{1.5, -2, 3}));
	EXPECT_EQ(back.GetObject()->GetClassObject(), VJSONVector::GetClass());

	// A payload of 7 bytes cannot hold doubles.
	VTask::FlushErrors();
	std::vector<uint8> cut(start, end - 32);
	const uint8 seven[] = {7, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7};
	cut.insert(cut.end(), seven, seven + sizeof(seven));
	VJSONBinaryImporter importer(cut.data(), cut.size());
	EXPECT_EQ(importer.GetValue(back), VE_INVALID_PARAMETER);
	EXPECT_EQ(VTask::GetLastError(), VE_INVALID_PARAMETER);

	VTask::FlushErrors();
	VJSONBinaryWriter::Buffer frozen(nullptr);
	uint64 error = VE_OK;
	EXPECT_EQ(Vector({1}).GetObject()->GetImplementation()->IJSON_WriteToBuffer(frozen, &error), eJSONStatusFailed);
	EXPECT_EQ(error, VE_MEMORY_FULL);
	EXPECT_EQ(VTask::GetLastError(), VE_MEMORY_FULL);
	VTask::FlushErrors();
}

}  // namespace
}  // namespace velk
