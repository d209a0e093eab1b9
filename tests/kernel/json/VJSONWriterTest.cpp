// JSON text writing: exact compact and indented texts, escaping, cycles and objects written twice, the cut
// of long output, the nesting bound, native implementations, and whole-file writes that never leave half a
// document behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/json/VJSONWriter.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/memory/VRefPtr.h"
#include "platform/FileOperations.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

constexpr uint32 kQuoted = VString::kJSON_WITH_QUOTES;
constexpr uint32 kPrettyQuoted = VJSONWriter::kPRETTY | kQuoted;

VJSONValue Array(std::initializer_list<VJSONValue> elements)
{
	VJSONValue array(JSON_array);
	for (const VJSONValue& element : elements)
		array.GetArray()->Push(element);
	return array;
}

// {"a":[1,2],"b":{}}
VJSONValue Sample()
{
	VJSONValue object(JSON_object);
	object.SetProperty(VString("a"), Array({VJSONValue(1.0), VJSONValue(2.0)}));
	object.SetProperty(VString("b"), VJSONValue(JSON_object));
	return object;
}

std::string Write(const VJSONValue& value, uint32 options, VError* error = nullptr)
{
	VJSONWriter writer(options);
	VString text;
	const VError result = writer.StringifyValue(value, text);
	if (error != nullptr)
		*error = result;
	return to_string(text);
}

TEST(VJSONWriter, TextsByKindAndLayout)
{
	VJSONValue escaped(JSON_object);
	escaped.SetProperty(VString("na\"me\\"), VJSONValue(VString("line\nbreak\ttab\x01")));
	VJSONValue order(JSON_object);
	for (const char* name : {"zeta", "alpha", "mid"})
		order.SetProperty(VString(name), VJSONValue(JSON_null));
	VJSONValue nested(JSON_object);
	nested.SetProperty(VString("x"), Array({Array({VJSONValue(JSON_true)}), VJSONValue(JSON_object)}));

	struct Row
	{
		const char* name;
		VJSONValue value;
		uint32 options;
		const char* text;
	};
	const Row rows[] = {
		{"sample compact", Sample(), kQuoted, "{\"a\":[1,2],\"b\":{}}"},
		{"sample pretty", Sample(), kPrettyQuoted, "{\n\t\"a\": [\n\t\t1,\n\t\t2\n\t],\n\t\"b\": {}\n}"},
		{"nested pretty", nested, kPrettyQuoted, "{\n\t\"x\": [\n\t\t[\n\t\t\ttrue\n\t\t],\n\t\t{}\n\t]\n}"},
		{"insertion order", order, kQuoted, "{\"zeta\":null,\"alpha\":null,\"mid\":null}"},
		{"escaped name and string", escaped, kQuoted, "{\"na\\\"me\\\\\":\"line\\nbreak\\ttab\\u0001\"}"},
		{"null and undefined in an array", Array({VJSONValue(JSON_null), VJSONValue(JSON_undefined)}), kQuoted,
			"[null,null]"},
		{"booleans and numbers", Array({VJSONValue(JSON_false), VJSONValue(-12.0), VJSONValue(0.5)}), kQuoted,
			"[false,-12,0.5]"},
		{"non-finite number", VJSONValue(std::numeric_limits<double>::infinity()), kQuoted, "null"},
		{"empty containers", Array({VJSONValue(JSON_array), VJSONValue(JSON_object)}), kPrettyQuoted,
			"[\n\t[],\n\t{}\n]"},
		{"names and strings unquoted without the quote option", Sample(), 0, "{a:[1,2],b:{}}"},
		{"string alone", VJSONValue(VString("a\"b")), kQuoted, "\"a\\\"b\""},
		{"kind past the last writes nothing", VJSONValue::sLastType, kQuoted, ""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VError error = VE_UNKNOWN_ERROR;
		EXPECT_EQ(Write(row.value, row.options, &error), row.text);
		EXPECT_EQ(error, VE_OK);
	}

	VJSONWriter writer(kQuoted);
	VString text;
	EXPECT_EQ(writer.StringifyArray(nullptr, text), VE_OK);
	EXPECT_EQ(to_string(text), "undefined");
	EXPECT_EQ(writer.StringifyObject(nullptr, text), VE_OK);
	EXPECT_EQ(to_string(text), "undefined");
}

// Cycles fail unless marked, an object met twice outside a cycle is written twice unless refused, and every
// refusal is raised on the task as well as answered.
TEST(VJSONWriter, CyclesAndRepeatedObjects)
{
	VJSONValue selfObject(JSON_object);
	selfObject.SetProperty(VString("n"), VJSONValue(1.0));
	selfObject.SetProperty(VString("self"), selfObject);
	VJSONValue selfArray(JSON_array);
	selfArray.GetArray()->Push(selfArray);
	VJSONValue shared(JSON_object);
	shared.SetProperty(VString("k"), VJSONValue(2.0));
	VJSONValue twice(JSON_object);
	twice.SetProperty(VString("a"), shared);
	twice.SetProperty(VString("b"), shared);

	struct Row
	{
		const char* name;
		const VJSONValue& value;
		uint32 options;
		VError error;
		const char* text;  // when it succeeds
	};
	const Row rows[] = {
		{"object in itself", selfObject, kQuoted, VE_JSON_CIRCULAR, nullptr},
		{"object in itself, marked", selfObject, kQuoted | VJSONWriter::kMARK_CIRCULAR, VE_OK,
			"{\"n\":1,\"self\":\"[circular]\"}"},
		{"array in itself", selfArray, kQuoted, VE_JSON_CIRCULAR, nullptr},
		{"array in itself, marking is for objects", selfArray, kQuoted | VJSONWriter::kMARK_CIRCULAR,
			VE_JSON_CIRCULAR, nullptr},
		{"same object twice", twice, kQuoted, VE_OK, "{\"a\":{\"k\":2},\"b\":{\"k\":2}}"},
		{"same object twice, once only", twice, kQuoted | VJSONWriter::kWRITE_ONCE, VE_JSON_OBJECT_WRITTEN_TWICE,
			nullptr},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		StErrorContextInstaller scope(false, true);
		VError error = VE_UNKNOWN_ERROR;
		const std::string text = Write(row.value, row.options, &error);
		EXPECT_EQ(error, row.error);
		EXPECT_EQ(scope.GetLastError(), row.error);
		if (row.text != nullptr)
		{
			EXPECT_EQ(text, row.text);
		}
	}

	// A writer that failed writes the next value soundly: nothing of the failed one is left on its stack.
	{
		StErrorContextInstaller scope(false, true);
		VJSONWriter writer(kQuoted);
		VString text;
		EXPECT_EQ(writer.StringifyValue(selfObject, text), VE_JSON_CIRCULAR);
		EXPECT_EQ(writer.StringifyValue(Sample(), text), VE_OK);
		EXPECT_EQ(to_string(text), "{\"a\":[1,2],\"b\":{}}");
		EXPECT_EQ(writer.GetLevel(), 0u);
	}

	selfObject.GetObject()->RemoveProperty(VString("self"));
	selfArray.GetArray()->Clear();
}

// Under the cut option a container ends after the element written once 513 units have gone before it,
// without its closing bracket, and "..." follows once.
TEST(VJSONWriter, CutOfLongOutput)
{
	auto numbers = [](int count) {
		VJSONValue array(JSON_array);
		for (int index = 0; index < count; ++index)
			array.GetArray()->Push(VJSONValue(10000000.0 + index));  // 8 units each
		return array;
	};
	auto expected = [](int written, bool cut) {
		std::string text = "[";
		for (int index = 0; index < written; ++index)
			text += (index > 0 ? "," : "") + std::to_string(10000000 + index);
		return text + (cut ? "..." : "]");
	};
	struct Row
	{
		int count;
		int written;
		bool cut;
	};
	// Before element i, 8 * i units have been written: 512 before the 65th, 520 before the 66th.
	const Row rows[] = {{65, 65, false}, {66, 66, true}, {200, 66, true}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.count);
		EXPECT_EQ(Write(numbers(row.count), VJSONWriter::kCUT_LONG), expected(row.written, row.cut));
		EXPECT_EQ(Write(numbers(row.count), 0), expected(row.count, false));
	}

	// Nested containers that are cut share one "...".
	VJSONValue outer = Array({numbers(200), numbers(3)});
	const std::string text = Write(outer, VJSONWriter::kCUT_LONG);
	EXPECT_EQ(text, "[" + expected(66, true));
}

TEST(VJSONWriter, NestingDepthIsBounded)
{
	struct Row
	{
		size_t depth;
		VError error;
	};
	const Row rows[] = {{VJSONWriter::kMaxNestingDepth, VE_OK}, {VJSONWriter::kMaxNestingDepth + 1, VE_STACK_OVERFLOW}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.depth);
		// Alternating arrays and objects, the innermost holding a number.
		VJSONValue value(1.0);
		for (size_t level = 0; level < row.depth; ++level)
		{
			VJSONValue container(level % 2 == 0 ? JSON_array : JSON_object);
			if (container.IsArray())
				container.GetArray()->Push(value);
			else
				container.SetProperty(VString("k"), value);
			value = container;
		}
		StErrorContextInstaller scope(false, true);
		VError error = VE_UNKNOWN_ERROR;
		const std::string text = Write(value, kQuoted, &error);
		EXPECT_EQ(error, row.error);
		EXPECT_EQ(scope.GetLastError(), row.error);
		if (row.error == VE_OK)
		{
			EXPECT_EQ(text.size(), row.depth * 2 + 1 + (row.depth / 2) * 4);
		}
	}
}

// A native implementation may write its object's text, and objects that are not plain data can be refused.
class NativeImplementation : public VObject, public IJSONObject
{
public:
	NativeImplementation(uint32 signature, EJSONStatus status) : fSignature(signature), fStatus(status) {}
	uint32 IJSON_GetBinarySignature() const override { return fSignature; }
	EJSONStatus IJSON_Stringify(const VJSONObject*, VJSONWriter& writer, VString& out, uint64* error) const override
	{
		if (fStatus != eJSONStatusHandled)
		{
			if (fStatus == eJSONStatusFailed)
				*error = VE_INVALID_PARAMETER;
			return fStatus;
		}
		// Writes its members through the same writer, so their cycles and options still count.
		*error = writer.StringifyValue(Array({VJSONValue(VString("native"))}), out);
		return eJSONStatusHandled;
	}
	EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names) const override
	{
		names.push_back(VString("virtual"));
		return eJSONStatusHandled;
	}
	EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out, VDBLanguageContext*) const override
	{
		if (!name.EqualToUSASCIICString("virtual"))
			return eJSONStatusNotHandled;
		out.SetNumber(7.0);
		return eJSONStatusHandled;
	}

private:
	uint32 fSignature;
	EJSONStatus fStatus;
};

TEST(VJSONWriter, NativeImplementations)
{
	struct Row
	{
		const char* name;
		uint32 signature;
		EJSONStatus status;
		uint32 options;
		VError error;
		const char* text;
	};
	const Row rows[] = {
		{"writes its own text", 0, eJSONStatusHandled, kQuoted, VE_OK, "[\"native\"]"},
		{"own properties then the implementation's", 0, eJSONStatusNotHandled, kQuoted, VE_OK,
			"{\"own\":1,\"virtual\":7}"},
		{"its failure stands", 0, eJSONStatusFailed, kQuoted, VE_INVALID_PARAMETER, nullptr},
		{"binary form refused", FourCharCode("JBlb"), eJSONStatusHandled, kQuoted | VJSONWriter::kREFUSE_BINARY,
			VE_JSON_BINARY_OBJECT, nullptr},
		{"binary form written as text otherwise", FourCharCode("JBlb"), eJSONStatusHandled, kQuoted, VE_OK, "[\"native\"]"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		NativeImplementation* implementation = new NativeImplementation(row.signature, row.status);
		VRefPtr<VJSONObject> object(new VJSONObject(nullptr, implementation, false), true);
		implementation->Release();
		object->SetProperty(VString("own"), VJSONValue(1.0));
		StErrorContextInstaller scope(false, true);
		VError error = VE_UNKNOWN_ERROR;
		const std::string text = Write(VJSONValue(object.Get()), row.options, &error);
		EXPECT_EQ(error, row.error);
		if (row.text != nullptr)
		{
			EXPECT_EQ(text, row.text);
		}
	}
}

// An object without a description of its own describes itself by its JSON text, shared or not, cut on
// request.
TEST(VJSONWriter, ObjectDescription)
{
	auto list = [](int count) {
		std::string text;
		for (int index = 0; index < count; ++index)
			text += (index > 0 ? ",1" : "1") + std::string(7, '0');
		return text;
	};
	VRefPtr<VJSONObject> object(new VJSONObject(nullptr, nullptr, false), true);
	VJSONValue numbers(JSON_array);
	for (int index = 0; index < 100; ++index)
		numbers.GetArray()->Push(VJSONValue(10000000.0));
	object->SetProperty(VString("name"), VJSONValue(VString("v")));
	object->SetProperty(VString("list"), numbers);
	VString text;
	EXPECT_EQ(object->GetDescription(text, false), VE_OK);
	EXPECT_EQ(to_string(text), "{\"name\":\"v\",\"list\":[" + list(100) + "]}");
	// 10 units of the first property, then 8 a number: 514 before the 64th number, which ends both.
	EXPECT_EQ(object->GetDescription(text, true), VE_OK);
	EXPECT_EQ(to_string(text), "{\"name\":\"v\",\"list\":[" + list(64) + "...");

	// A shared object is described under its read lock, which the writer's own reads take again.
	VRefPtr<VJSONObject> shared(new VJSONObject(nullptr, nullptr, true), true);
	{
		VJSONUser user(shared.Get(), false);
		shared->SetProperty(VString("name"), VJSONValue(VString("v")));
	}
	EXPECT_EQ(shared->GetDescription(text, false), VE_OK);
	EXPECT_EQ(to_string(text), "{\"name\":\"v\"}");
}

class VJSONWriterFileTest : public test::VTemporaryFolderTest
{
};

// The whole document reaches the file in UTF-8, or, when writing fails, nothing does and the error is told.
TEST_F(VJSONWriterFileTest, WholeDocumentOrNothing)
{
	VJSONValue cyclic(JSON_object);
	cyclic.SetProperty(VString("self"), cyclic);
	VJSONValue accented(JSON_object);
	accented.SetProperty(VString("caf\xC3\xA9"), VJSONValue(VString("\xE2\x82\xAC")));

	struct Row
	{
		const char* name;
		const VJSONValue& value;
		uint32 options;
		plat::WriteStep fault;
		VError error;
		const char* content;  // of the file afterwards
	};
	const Row rows[] = {
		{"pretty sample", Sample(), kPrettyQuoted, plat::WriteStep::kNone, VE_OK,
			"{\n\t\"a\": [\n\t\t1,\n\t\t2\n\t],\n\t\"b\": {}\n}"},
		{"UTF-8 without a byte-order mark", accented, kQuoted, plat::WriteStep::kNone, VE_OK,
			"{\"caf\xC3\xA9\":\"\xE2\x82\xAC\"}"},
		{"a refused document leaves the file", cyclic, kQuoted, plat::WriteStep::kNone, VE_JSON_CIRCULAR, "before"},
		{"a failed store leaves the file", Sample(), kQuoted, plat::WriteStep::kWrite, MakeVError(kVELK_SIGNATURE, 602),
			"before"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		Write("doc.json", "before");
		VRefPtr<VFile> file = File("doc.json");
		StErrorContextInstaller scope(false, true);
		plat::SetWriteFaultForTesting(row.fault, row.fault == plat::WriteStep::kNone ? 0 : ENOSPC);
		const VError error = row.value.SaveToFile(file.Get(), row.options);
		plat::SetWriteFaultForTesting(plat::WriteStep::kNone, 0);
		if (row.fault == plat::WriteStep::kNone)
			EXPECT_EQ(error, row.error);
		else
			EXPECT_NE(error, VE_OK);
		EXPECT_EQ(scope.GetLastError(), error);
		EXPECT_EQ(Read("doc.json"), row.content);
	}
	EXPECT_EQ(VJSONWriter::StringifyValueToFile(nullptr, Sample(), kQuoted), VE_OK);
	cyclic.GetObject()->RemoveProperty(VString("self"));
}

// Stringify writes as the writer does; with the binary fallback a value the text can carry comes out the same.
TEST(VJSONWriter, StringifyEntryPoint)
{
	for (uint32 options : {kQuoted, kPrettyQuoted, kQuoted | 2048u})
	{
		SCOPED_TRACE(options);
		VString text;
		EXPECT_EQ(Sample().Stringify(text, options), VE_OK);
		EXPECT_EQ(to_string(text), Write(Sample(), options & ~2048u));
	}

	// A refusal under 2048 is dropped quietly on the way to the binary form, which does not exist yet.
	VJSONValue cyclic(JSON_object);
	cyclic.SetProperty(VString("self"), cyclic);
	{
		StErrorContextInstaller scope(false, true);
		VString text;
		EXPECT_EQ(cyclic.Stringify(text, kQuoted | 2048u), VE_UNIMPLEMENTED);
		EXPECT_EQ(scope.GetLastError(), VE_UNIMPLEMENTED);
		EXPECT_EQ(scope.Find(VE_JSON_CIRCULAR), nullptr);
	}
	cyclic.GetObject()->RemoveProperty(VString("self"));
}

}  // namespace
}  // namespace velk
