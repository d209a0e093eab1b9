// JSON text writing: exact compact and indented texts, escaping, cycles and objects written twice, the cut
// of long output, the nesting bound, native implementations, and whole-file writes that never leave half a
// document behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/json/VJSONWriter.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/values/VReal.h"
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
	// {"a":[{"b":[1,{"c":"d"}],"e":2},3],"f":{"g":[]},"h":4}: objects and arrays alternating at every depth.
	VJSONValue inner(JSON_object);
	VJSONValue leaf(JSON_object);
	leaf.SetProperty(VString("c"), VJSONValue(VString("d")));
	inner.SetProperty(VString("b"), Array({VJSONValue(1.0), leaf}));
	inner.SetProperty(VString("e"), VJSONValue(2.0));
	VJSONValue side(JSON_object);
	side.SetProperty(VString("g"), VJSONValue(JSON_array));
	VJSONValue mixed(JSON_object);
	mixed.SetProperty(VString("a"), Array({inner, VJSONValue(3.0)}));
	mixed.SetProperty(VString("f"), side);
	mixed.SetProperty(VString("h"), VJSONValue(4.0));

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
		{"alternating nesting", mixed, kQuoted, "{\"a\":[{\"b\":[1,{\"c\":\"d\"}],\"e\":2},3],\"f\":{\"g\":[]},\"h\":4}"},
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

// A number is written as VReal::RealToJSONString writes it (14 significant digits, whole numbers as
// integers), whichever way the writer finds the digits: shortest digits, rounded ones (with the carry into a
// new leading digit), and tails so near a half that only a full rounding decides.
TEST(VJSONWriter, NumbersAsTheRealText)
{
	std::vector<double> numbers = {0.5, -0.25, 0.1, 1.0 / 3, 2.0 / 3, 1e-5, 0.0001, 0.00012345678901234, 123456.789,
		9007199254740992.0, 9007199254740993.0 * 3, 1e20, -1e21, 1.5e300, 4.9e-324, 2.2250738585072014e-308,
		1.7976931348623157e308, 0.123456789012345, 0.1234567890123450001, 1.00000000000005, 9.99999999999995,
		9.999999999999951, 99999999999999.5, 0.99999999999999994, -65.613616999999977, 123456789012345.6,
		1.23456789012345e-7, 1e14 + 0.5, 12345678901234.56, std::nextafter(0.5, 1.0), std::nextafter(1e-4, 0.0)};
	std::mt19937_64 random(20260602);
	for (int i = 0; i < 20000; ++i)
	{
		uint64_t bits = random();
		double number = 0;
		std::memcpy(&number, &bits, sizeof(number));
		if (std::isfinite(number))
			numbers.push_back(number);
		// 15 to 17 digits whose tail beyond the 14th lies at or around a half.
		const int tailDigits = 1 + int(random() % 3);
		const uint64_t head = 10000000000000ull + random() % 90000000000000ull;
		uint64_t tail = (tailDigits == 1 ? 5 : (tailDigits == 2 ? 45 + random() % 11 : 470 + random() % 61));
		uint64_t scale = tailDigits == 1 ? 10 : (tailDigits == 2 ? 100 : 1000);
		const double mantissa = double(head) * double(scale) + double(tail);
		numbers.push_back(mantissa * std::pow(10.0, int(random() % 41) - 30 - tailDigits - 13));
	}
	for (const double number : numbers)
	{
		VString expected;
		VReal::RealToJSONString(number, expected);
		ASSERT_EQ(Write(VJSONValue(number), kQuoted), to_string(expected)) << std::hexfloat << number;
	}
}

// Strings and names are escaped exactly as VString::GetJSONString escapes them, under each of its options,
// for texts long enough that the escapes outgrow the room first set aside.
TEST(VJSONWriter, EscapesAsTheStringJSONForm)
{
	std::u16string mixed;
	for (int i = 0; i < 400; ++i)
		mixed += (i % 3 == 0) ? u"\"\x01" : (i % 3 == 1 ? u"pl\u00E9n" : u"&'\\\x7F");
	std::vector<std::u16string> texts = {u"", u"plain", u"\"", u"a\\b", u"\x01x\x1F", u"\x7F", u"&'", u"tab\there\n",
		std::u16string(u"nul\0in", 6), u"\u00E9\u20AC\xD83D\xDE00", mixed, std::u16string(300, u'\n')};
	// Each unit that may need an escape, and neighbours that do not, at every place of a text long enough to
	// be copied in blocks.
	for (const UniChar unit : {u'"', u'\\', u'\x01', u'\x1F', u' ', u'\x7F', u'\x80', u'&', u'\'', u'\u00E9'})
	{
		for (size_t place = 0; place <= 20; ++place)
			texts.push_back(std::u16string(place, u'a') + unit + std::u16string(20 - place, u'b'));
	}
	for (const uint32 options : {0u, kQuoted, uint32(VString::kJSON_RAW), kQuoted | VString::kJSON_RAW,
			 uint32(VString::kJSON_ESCAPE_AMP_APOS), kQuoted | VString::kJSON_ESCAPE_AMP_APOS})
	{
		for (const std::u16string& units : texts)
		{
			SCOPED_TRACE(std::to_string(options) + " " + std::to_string(units.size()));
			const VString text(units.data(), int32(units.size()));
			VString form;
			ASSERT_EQ(text.GetJSONString(form, options), VE_OK);
			EXPECT_EQ(Write(VJSONValue(text), options), to_string(form));
			VJSONValue object(JSON_object);
			object.SetProperty(text, VJSONValue(JSON_null));
			EXPECT_EQ(Write(object, options), "{" + to_string(form) + ":null}");
		}
	}
}

// When the text cannot grow the writer answers and raises velk 107, and the caller's text stays as it
// was; the same writer writes the whole text once memory is back.
TEST(VJSONWriter, RefusedMemoryLeavesTheTextAlone)
{
	const VJSONValue value = Sample();
	VJSONWriter writer(kQuoted);
	VString text("before");
	VTask::FlushErrors();
	VCppMemMgr* previous = VObject::sCppMemMgr;
	// A manager with no backend refuses every block.
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	const VError error = writer.StringifyValue(value, text);
	const VError raised = VTask::GetLastError();
	VTask::FlushErrors();
	VObject::sCppMemMgr = previous;
	delete refusing;

	EXPECT_EQ(error, VE_STRING_ALLOC_FAILED);
	EXPECT_EQ(raised, VE_STRING_ALLOC_FAILED);
	EXPECT_EQ(to_string(text), "before");
	EXPECT_EQ(writer.StringifyValue(value, text), VE_OK);
	EXPECT_EQ(to_string(text), "{\"a\":[1,2],\"b\":{}}");
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

	// A refusal under 2048 is dropped quietly on the way to the binary form.
	VJSONValue cyclic(JSON_object);
	cyclic.SetProperty(VString("self"), cyclic);
	{
		StErrorContextInstaller scope(false, true);
		VString text;
		EXPECT_EQ(cyclic.Stringify(text, kQuoted | 2048u), VE_OK);
		EXPECT_EQ(scope.GetLastError(), VE_OK);
		EXPECT_EQ(scope.Find(VE_JSON_CIRCULAR), nullptr);
	}
	cyclic.GetObject()->RemoveProperty(VString("self"));
}

// An object whose properties a and b are computed: each read makes a new object {"v": name}, which lives
// only as long as its reader holds it. When b is computed it notes how many such objects are still alive.
class Computed : public VObject, public IJSONObject
{
public:
	class Piece : public VObject, public IJSONObject
	{
	public:
		Piece() { ++sAlive; }
		~Piece() override { --sAlive; }
	};

	EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out, VDBLanguageContext*) const override
	{
		if (!name.EqualToStringRaw(VString("a")) && !name.EqualToStringRaw(VString("b")))
			return eJSONStatusNotHandled;
		if (name.EqualToStringRaw(VString("b")))
			sAliveWhenBIsRead = sAlive;
		Piece* piece = new Piece;
		VRefPtr<VJSONObject> object(new VJSONObject(nullptr, piece, false), true);
		piece->Release();
		object->SetProperty(VString("v"), VJSONValue(name));
		out.SetObject(object.Get());
		return eJSONStatusHandled;
	}
	EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names) const override
	{
		names.push_back(VString("a"));
		names.push_back(VString("b"));
		return eJSONStatusHandled;
	}

	static int sAlive;
	static int sAliveWhenBIsRead;
};
int Computed::sAlive = 0;
int Computed::sAliveWhenBIsRead = -1;

// The writers that write a container once remember the containers they wrote until the writing ends, so that
// a computed object freed after being written cannot lend its address to the next one (which would then be
// written as a reference to the first, or refused as written twice).
TEST(VJSONWriter, ContainersWrittenOnceAreKeptUntilTheWriteEnds)
{
	struct Row
	{
		const char* writer;
		std::function<VError(const VJSONValue&, VJSONValue&)> roundTrip;
	};
	const Row rows[] = {
		{"binary",
			[](const VJSONValue& value, VJSONValue& back) {
				VJSONBinaryWriter::Buffer bytes;
				VJSONBinaryWriter writer(0);
				VError error = writer.StreamValue(value, bytes);
				if (error == VE_OK)
				{
					VJSONBinaryImporter importer(bytes.GetDataPtr(), size_t(bytes.GetDataSize()));
					error = importer.GetValue(back);
				}
				return error;
			}},
		{"text, each object once",
			[](const VJSONValue& value, VJSONValue& back) {
				VJSONWriter writer(kQuoted | VJSONWriter::kWRITE_ONCE);
				VString text;
				VError error = writer.StringifyValue(value, text);
				if (error == VE_OK)
					error = back.ParseFromString(text);
				return error;
			}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.writer);
		VTask::FlushErrors();
		Computed* computed = new Computed;
		VJSONValue value(JSON_null);
		value.SetObject(VRefPtr<VJSONObject>(new VJSONObject(nullptr, computed, false), true).Get());
		computed->Release();
		Computed::sAliveWhenBIsRead = -1;
		VJSONValue back;
		ASSERT_EQ(row.roundTrip(value, back), VE_OK);
		EXPECT_EQ(Computed::sAliveWhenBIsRead, 1);
		EXPECT_EQ(Computed::sAlive, 0);
		EXPECT_EQ(back.GetProperty(VString("a")).GetProperty(VString("v")).GetString().EqualToStringRaw(VString("a")), true);
		EXPECT_EQ(back.GetProperty(VString("b")).GetProperty(VString("v")).GetString().EqualToStringRaw(VString("b")), true);
		EXPECT_EQ(VTask::GetLastError(), VE_OK);
	}
}

}  // namespace
}  // namespace velk
