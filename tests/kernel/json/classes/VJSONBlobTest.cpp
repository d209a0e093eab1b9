#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONFunctionContext.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONBlob.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "kernel/values/VBlob.h"
#include "tests/kernel/json/classes/VJSONClassTesting.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

const uint8 kTen[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

VRefPtr<VJSONObject> TenBytes()
{
	return VRefPtr<VJSONObject>(VJSONBlob::Create(kTen, sizeof(kTen)), true);
}

std::vector<uint8> BytesOf(const VJSONObject* object)
{
	const VJSONBlob* blob = VJSONBlob::CastJSONObject(object);
	EXPECT_NE(blob, nullptr);
	if (blob == nullptr || blob->GetSize() == 0)
		return {};
	return std::vector<uint8>(blob->GetData(), blob->GetData() + blob->GetSize());
}

// Calls a function of the class on thisObject with the parameters; the result is left in result.
EJSONStatus Call(VJSONObject* thisObject, const char* name, std::vector<VJSONValue> parameters, VJSONValue& result)
{
	VJSONValue function = thisObject->GetProperty(VString(name));
	EXPECT_NE(function.GetObject(), nullptr) << name;
	return test::CallClassFunction(function, thisObject, std::move(parameters), result);
}

TEST(VJSONBlob, ConcurrentFirstUseMakesOneClass)
{
	test::ExpectOneClassFromConcurrentFirstUse(&VJSONBlob::GetClass, "Blob");
}

// Bounds as in JavaScript, plus the numbers an integer cannot hold.
TEST(VJSONBlob, SliceBounds)
{
	const double nan = std::numeric_limits<double>::quiet_NaN();
	const double inf = std::numeric_limits<double>::infinity();
	struct Row
	{
		const char* name;
		std::vector<VJSONValue> parameters;
		std::vector<uint8> bytes;
	};
	const Row rows[] = {
		{"no bounds", {}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
		{"last two", {VJSONValue(-2.0)}, {8, 9}},
		{"reversed", {VJSONValue(3.0), VJSONValue(1.0)}, {}},
		{"far before the start", {VJSONValue(-100.0)}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
		{"fractions truncated", {VJSONValue(1.9), VJSONValue(3.5)}, {1, 2}},
		{"NaN start counts as 0", {VJSONValue(nan), VJSONValue(2.0)}, {0, 1}},
		{"NaN end counts as 0", {VJSONValue(1.0), VJSONValue(nan)}, {}},
		{"infinities clamp", {VJSONValue(-inf), VJSONValue(inf)}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
		{"beyond 64 bits clamps", {VJSONValue(1e300), VJSONValue(-1e300)}, {}},
		{"undefined end is the size", {VJSONValue(8.0), VJSONValue(JSON_undefined)}, {8, 9}},
	};
	VRefPtr<VJSONObject> blob = TenBytes();
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VJSONValue result;
		ASSERT_EQ(Call(blob.Get(), "slice", row.parameters, result), eJSONStatusHandled);
		EXPECT_EQ(BytesOf(result.GetObject()), row.bytes);
	}

	// A slice of a slice counts from the first slice and shares the first blob's buffer.
	VJSONValue middle, inner;
	ASSERT_EQ(Call(blob.Get(), "slice", {VJSONValue(2.0), VJSONValue(8.0)}, middle), eJSONStatusHandled);
	ASSERT_EQ(Call(middle.GetObject(), "slice", {VJSONValue(1.0), VJSONValue(-1.0)}, inner), eJSONStatusHandled);
	EXPECT_EQ(BytesOf(inner.GetObject()), (std::vector<uint8>{3, 4, 5, 6}));
	EXPECT_EQ(VJSONBlob::CastJSONObject(inner.GetObject())->GetData(), VJSONBlob::CastJSONObject(blob.Get())->GetData() + 3);
	middle.SetNull();
	blob.Clear();
	EXPECT_EQ(BytesOf(inner.GetObject()), (std::vector<uint8>{3, 4, 5, 6}));

	// Not on a Blob: failed without error.
	VTask::FlushErrors();
	VJSONValue plain(JSON_object), function = inner.GetObject()->GetProperty(VString("slice")), result;
	VJSONFunctionContext context(plain.GetObject(), nullptr, nullptr, nullptr, nullptr);
	EXPECT_EQ(function.GetObject()->GetImplementation()->IJSON_CallAsFunction(function.GetObject(), &context), eJSONStatusFailed);
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

TEST(VJSONBlob, NewAndObjectProtocol)
{
	struct Row
	{
		const char* name;
		std::vector<VJSONValue> parameters;
		bool made;
		size_t size;
		VError error;
	};
	VRefPtr<VJSONObject> ten = TenBytes();
	const Row rows[] = {
		{"no parameter", {}, true, 0, VE_OK},
		{"a blob", {VJSONValue(ten.Get())}, true, 10, VE_OK},
		{"not a blob", {VJSONValue(1.0)}, true, 0, VE_JSON_CONTAINER_EXPECTED},
		{"two parameters", {VJSONValue(ten.Get()), VJSONValue(ten.Get())}, false, 0, VE_JSON_TOO_MANY_PARAMETERS},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VTask::FlushErrors();
		VJSONValue result;
		ASSERT_EQ(Call(VJSONBlob::GetClass(), "new", row.parameters, result), eJSONStatusHandled);
		EXPECT_EQ(VTask::GetLastError(), row.error);
		EXPECT_EQ(result.IsObject(), row.made);
		EXPECT_EQ(result.GetProperty(VJSONBlob::key_size).GetNumber(), row.made ? double(row.size) : 0.0);
	}

	VTask::FlushErrors();
	VRefPtr<VJSONObject> empty(VJSONBlob::Create(nullptr, 0), true);
	VString description;
	ASSERT_EQ(empty->GetDescription(description, false), VE_OK);
	EXPECT_TRUE(description.EqualToString(VString("0 bytes"), true));
	EXPECT_EQ(ten->GetPropertyByIndex(9, nullptr).GetNumber(), 9.0);
	EXPECT_EQ(ten->GetCountPropertiesByIndex(nullptr), 10u);
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
	EJSONStatus status = eJSONStatusHandled;
	empty->GetPropertyByIndex(0, &status);
	EXPECT_EQ(status, eJSONStatusFailed);
	EXPECT_EQ(VTask::GetLastError(), VE_JSON_INDEX_OUT_OF_RANGE);
	EXPECT_FALSE(ten->SetProperty(VJSONBlob::key_size, VJSONValue(1.0)));
	EXPECT_EQ(VTask::GetLastError(), VE_JSON_CLASS_READ_ONLY);
	EXPECT_EQ(ten->GetProperty(VJSONBlob::key_size).GetNumber(), 10.0);
	VTask::FlushErrors();
}

TEST(VJSONBlob, BinaryRoundTrips)
{
	for (size_t size : {size_t(0), sizeof(kTen)})
	{
		SCOPED_TRACE(size);
		VRefPtr<VJSONObject> blob(VJSONBlob::Create(kTen, size), true);
		VJSONBinaryWriter::Buffer buffer;
		VJSONBinaryWriter writer(0);
		ASSERT_EQ(writer.StreamValue(VJSONValue(blob.Get()), buffer), VE_OK);
		// The payload closes the form: the 8-byte little-endian count, then the bytes.
		const uint8* end = buffer.GetDataPtr() + buffer.GetDataSize();
		ASSERT_GE(buffer.GetDataSize(), 8 + size);
		const uint8* count = end - size - 8;
		EXPECT_EQ(count[0], uint8(size));
		for (int i = 1; i < 8; ++i)
			EXPECT_EQ(count[i], 0);
		VJSONValue back;
		VJSONBinaryImporter importer(buffer.GetDataPtr(), size_t(buffer.GetDataSize()));
		ASSERT_EQ(importer.GetValue(back), VE_OK);
		EXPECT_EQ(BytesOf(back.GetObject()), std::vector<uint8>(kTen, kTen + size));
		EXPECT_EQ(back.GetObject()->GetClassObject(), VJSONBlob::GetClass());
	}

	// A buffer that cannot grow: the writer fails with velk 100 rather than leaving a short payload.
	VTask::FlushErrors();
	VRefPtr<VJSONObject> blob = TenBytes();
	VJSONBinaryWriter::Buffer frozen(nullptr);
	uint64 error = VE_OK;
	EXPECT_EQ(blob->GetImplementation()->IJSON_WriteToBuffer(frozen, &error), eJSONStatusFailed);
	EXPECT_EQ(error, VE_MEMORY_FULL);
	EXPECT_EQ(VTask::GetLastError(), VE_MEMORY_FULL);
	VTask::FlushErrors();
}

// Blob values and JSON Blob objects convert both ways.
TEST(VJSONBlob, BlobValueJSONForm)
{
	VBlobWithPtr value(kTen, 4);
	VJSONValue json;
	ASSERT_EQ(value.GetJSONValue(json), VE_OK);
	EXPECT_EQ(BytesOf(json.GetObject()), (std::vector<uint8>{0, 1, 2, 3}));

	VBlobWithPtr back;
	ASSERT_EQ(back.FromJSONValue(json), VE_OK);
	EXPECT_TRUE(back.EqualToSameKind(&value));
	EXPECT_EQ(back.FromJSONValue(VJSONValue(1.0)), VE_OK);
	EXPECT_TRUE(back.IsNull());
	EXPECT_EQ(back.GetSize(), 0u);

	VBlobWithPtr null;
	null.SetNull(true);
	ASSERT_EQ(null.GetJSONValue(json), VE_OK);
	EXPECT_EQ(json.GetProperty(VJSONBlob::key_size).GetNumber(), 0.0);
}

}  // namespace
}  // namespace velk
