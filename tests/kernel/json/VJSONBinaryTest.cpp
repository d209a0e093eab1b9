// Binary JSON: the exact bytes of the form, shared containers and cycles kept through a round trip, data cut
// short or corrupted at every byte (answered with an error, never read out of bounds), the writer's limits,
// native payloads through the factory, the Base64 embedding in JSON text, and the "$ref" pointers the
// reader resolves its references with.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONObjectFactory.h"
#include "kernel/json/VJSONPointerResolver.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VTime.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {
namespace {

using ByteVector = std::vector<uint8_t>;

// Builds expected forms and hand-made inputs, little-endian.
class Bytes
{
public:
	Bytes& Tag(uint8_t tag)
	{
		fData.push_back(tag);
		return *this;
	}
	Bytes& U16(uint64_t value) { return _Little(value, 2); }
	Bytes& U32(uint64_t value) { return _Little(value, 4); }
	Bytes& U64(uint64_t value) { return _Little(value, 8); }
	Bytes& Number(double number) { return Tag(JSON_number).U64(std::bit_cast<uint64_t>(number)); }
	Bytes& Units(std::u16string_view text)
	{
		for (const char16_t unit : text)
			U16(unit);
		return *this;
	}
	// Tag, u32 length and units: a string or a reference.
	Bytes& Text(uint8_t tag, std::u16string_view text) { return Tag(tag).U32(text.size()).Units(text); }
	Bytes& Name(std::u16string_view name) { return U16(name.size()).Units(name); }
	ByteVector Get() const { return fData; }

private:
	Bytes& _Little(uint64_t value, int count)
	{
		for (int i = 0; i < count; ++i)
			fData.push_back(uint8_t(value >> (8 * i)));
		return *this;
	}
	ByteVector fData;
};

ByteVector Write(const VJSONValue& value, VError* error = nullptr)
{
	VJSONBinaryWriter writer(0);
	VJSONBinaryWriter::Buffer buffer;
	const VError result = writer.StreamValue(value, buffer);
	if (error != nullptr)
		*error = result;
	return ByteVector(buffer.GetDataPtr(), buffer.GetDataPtr() + buffer.GetDataSize());
}

VError Read(const ByteVector& bytes, VJSONValue& out)
{
	VJSONBinaryImporter importer(bytes.data(), bytes.size());
	return importer.GetValue(out);
}

VJSONValue Object(std::initializer_list<std::pair<const char*, VJSONValue>> properties)
{
	VJSONValue object(JSON_object);
	for (const auto& property : properties)
		object.SetProperty(VString(property.first), property.second);
	return object;
}

VJSONValue Array(std::initializer_list<VJSONValue> elements)
{
	VJSONValue array(JSON_array);
	for (const VJSONValue& element : elements)
		array.GetArray()->Push(element);
	return array;
}

VJSONValue SelfContainingArray()
{
	VJSONValue array(JSON_array);
	array.GetArray()->Push(array);
	return array;
}

// {"a": shared, "b": shared}
VJSONValue SharedUnderTwoNames()
{
	const VJSONValue shared = Object({{"n", VJSONValue(1.0)}});
	return Object({{"a", shared}, {"b", shared}});
}

// Runs action once the free stack has fallen below the writer's and reader's guard.
VError WithStackNearlySpent(const std::function<VError()>& action)
{
	volatile char pad[512];
	pad[0] = 1;
	const VError result = VTaskMgr::Get()->GetCurrentFreeStackSize() < VJSONBinaryWriter::kMinFreeStack
		? action()
		: WithStackNearlySpent(action);
	pad[1] = pad[0];
	return result;
}

VJSONValue Nested(int depth)
{
	VJSONValue root(JSON_array);
	VJSONValue current = root;
	for (int level = 1; level < depth; ++level)
	{
		VJSONValue child(JSON_array);
		current.GetArray()->Push(child);
		current = child;
	}
	return root;
}

TEST(VJSONBinary, ExactBytes)
{
	const VJSONValue shared(JSON_object);
	struct Row
	{
		const char* name;
		VJSONValue value;
		ByteVector bytes;
	};
	const Row rows[] = {
		{"object with an array", Object({{"a", Array({VJSONValue(1.0), VJSONValue(VString("x"))})}, {"b", VJSONValue(JSON_true)}}),
			Bytes().Tag(5).Name(u"a").Tag(6).U32(2).Number(1.0).Text(3, u"x").Name(u"b").Tag(2).U16(0xFFFF).Get()},
		{"array containing itself", SelfContainingArray(), Bytes().Tag(6).U32(1).Text(255, u"#").Get()},
		{"shared object written once", Object({{"a", shared}, {"b", shared}}),
			Bytes().Tag(5).Name(u"a").Tag(5).U16(0xFFFF).Name(u"b").Text(255, u"#/a").U16(0xFFFF).Get()},
		{"name escaped in a reference", Object({{"x/y~", shared}, {"r", shared}}),
			Bytes().Tag(5).Name(u"x/y~").Tag(5).U16(0xFFFF).Name(u"r").Text(255, u"#/x~1y~0").U16(0xFFFF).Get()},
		{"index path", Object({{"a", Array({VJSONValue(JSON_null), shared})}, {"b", shared}}),
			Bytes().Tag(5).Name(u"a").Tag(6).U32(2).Tag(0).Tag(5).U16(0xFFFF).Name(u"b").Text(255, u"#/a/1").U16(0xFFFF).Get()},
		{"scalars", Array({VJSONValue(JSON_null), VJSONValue(JSON_false), VJSONValue(JSON_undefined), VJSONValue(VString()),
						VJSONValue(-0.5)}),
			Bytes().Tag(6).U32(5).Tag(0).Tag(1).Tag(7).Text(3, u"").Number(-0.5).Get()},
		{"null containers", Array({VJSONValue(static_cast<VJSONObject*>(nullptr)), VJSONValue(static_cast<VJSONArray*>(nullptr))}),
			Bytes().Tag(6).U32(2).Tag(0).Tag(0).Get()},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VError error = VE_UNKNOWN_ERROR;
		EXPECT_EQ(Write(row.value, &error), row.bytes);
		EXPECT_EQ(error, VE_OK);
	}

	VTime time;
	time.FromUTCTime(2024, 2, 29, 0, 0, 0, 0);
	EXPECT_EQ(Write(VJSONValue(time)), Bytes().Tag(8).U64(uint64_t(time.GetMilliseconds())).Get());
	VString pointer;
	VJSONBinaryWriter::BuildPathPointerString(nullptr, pointer);
	EXPECT_EQ(to_string(pointer), "#");
}

TEST(VJSONBinary, RoundTripKeepsKindsAndIdentity)
{
	VJSONValue cyclic(JSON_object);
	cyclic.SetProperty(VString("self"), cyclic);
	VTime time;
	time.FromUTCTime(2024, 2, 29, 0, 0, 0, 0);
	const VJSONValue samples[] = {SharedUnderTwoNames(), SelfContainingArray(), cyclic,
		Array({VJSONValue(time), VJSONValue(JSON_undefined), VJSONValue(VString(u"\u00E9t\u00E9 \xD83D\xDE00")),
			VJSONValue(1e300), VJSONValue(JSON_null), Object({{"", VJSONValue(JSON_true)}})})};
	for (const VJSONValue& sample : samples)
	{
		const ByteVector bytes = Write(sample);
		VJSONValue back;
		ASSERT_EQ(Read(bytes, back), VE_OK);
		// Writing what was read gives the same bytes: kinds, order, sharing and cycles all came back.
		EXPECT_EQ(Write(back), bytes);
	}

	VJSONValue back;
	ASSERT_EQ(Read(Write(samples[0]), back), VE_OK);
	EXPECT_NE(back.GetProperty(VString("a")).GetObject(), nullptr);
	EXPECT_EQ(back.GetProperty(VString("a")).GetObject(), back.GetProperty(VString("b")).GetObject());
	ASSERT_EQ(Read(Write(samples[1]), back), VE_OK);
	EXPECT_EQ(back.GetArray()->GetAt(0).GetArray(), back.GetArray());
	ASSERT_EQ(Read(Write(samples[2]), back), VE_OK);
	EXPECT_EQ(back.GetProperty(VString("self")).GetObject(), back.GetObject());
	ASSERT_EQ(Read(Write(samples[3]), back), VE_OK);
	int16 year = 0, month = 0, day = 0;
	EXPECT_TRUE(back.GetArray()->GetAt(0).GetDate(&year, &month, &day));
	EXPECT_EQ(year * 10000 + month * 100 + day, 20240229);
	EXPECT_TRUE(back.GetArray()->GetAt(1).IsUndefined());
	EXPECT_TRUE(back.DeepEqualTo(samples[3], VCompareOptions()));

	VJSONValue nothing(JSON_true);
	EXPECT_EQ(Read({}, nothing), VE_OK);
	EXPECT_TRUE(nothing.IsUndefined());
}

// Every proper prefix of a form is data that ends early; flipped bytes give an error or some value. The
// sanitizers catch any read outside the data.
TEST(VJSONBinary, TruncatedAndCorruptedData)
{
	VTime time;
	time.FromUTCTime(2001, 9, 9, 0, 0, 0, 0);
	const VJSONValue samples[] = {SharedUnderTwoNames(), SelfContainingArray(),
		Object({{"a", Array({VJSONValue(1.0), VJSONValue(VString("xyz")), VJSONValue(time)})}, {"b", Object({})}})};
	for (const VJSONValue& sample : samples)
	{
		const ByteVector bytes = Write(sample);
		for (size_t length = 1; length < bytes.size(); ++length)
		{
			VTask::FlushErrors();
			VJSONValue out;
			ASSERT_EQ(Read(ByteVector(bytes.begin(), bytes.begin() + length), out), VE_STREAM_EOF) << length;
			EXPECT_EQ(VTask::GetLastError(), VE_STREAM_EOF);
		}
		for (size_t pos = 0; pos < bytes.size(); ++pos)
		{
			for (const int flipped : {0x00, 0x01, 0x05, 0x06, 0x7F, 0x80, 0xFD, 0xFE, 0xFF, bytes[pos] ^ 0x20})
			{
				ByteVector corrupt = bytes;
				corrupt[pos] = uint8_t(flipped);
				VJSONValue out;
				const VError error = Read(corrupt, out);
				EXPECT_TRUE(error == VE_OK || error == VE_STREAM_EOF || error == VE_MEMORY_FULL) << pos << " " << error;
			}
		}
	}
	std::mt19937 random(1162);
	for (int round = 0; round < 2000; ++round)
	{
		ByteVector noise(random() % 40);
		for (uint8_t& byte : noise)
			byte = uint8_t(random() % 4 == 0 ? random() % 9 : random());
		VJSONValue out;
		const VError error = Read(noise, out);
		EXPECT_TRUE(error == VE_OK || error == VE_STREAM_EOF || error == VE_MEMORY_FULL) << round << " " << error;
	}
	VTask::FlushErrors();
}

TEST(VJSONBinary, UntrustedLengthsAndMarkers)
{
	auto deep = [](int depth) {
		Bytes bytes;
		for (int level = 1; level < depth; ++level)
			bytes.Tag(6).U32(1);
		return bytes.Tag(6).U32(0).Get();
	};
	struct Row
	{
		const char* name;
		ByteVector bytes;
		VError error;
		JSONType type;
	};
	const Row rows[] = {
		{"count beyond the bytes left", Bytes().Tag(6).U32(0x7FFFFFFF).Tag(0).Get(), VE_STREAM_EOF, JSON_undefined},
		{"negative count", Bytes().Tag(6).U32(0xFFFFFFFF).Get(), VE_STREAM_EOF, JSON_undefined},
		{"count -2 is undefined", Bytes().Tag(6).U32(0xFFFFFFFE).Get(), VE_OK, JSON_undefined},
		{"string length past the end", Bytes().Tag(3).U32(0xFFFFFFFF).U16('x').Get(), VE_STREAM_EOF, JSON_undefined},
		{"string one byte short", Bytes().Tag(3).U32(2).U16('x').Tag(0).Get(), VE_STREAM_EOF, JSON_undefined},
		{"number cut short", Bytes().Tag(4).U32(0).Get(), VE_STREAM_EOF, JSON_undefined},
		{"date cut short", Bytes().Tag(8).U16(1).Get(), VE_STREAM_EOF, JSON_undefined},
		{"unlisted tag skip of 0", Bytes().Tag(9).U32(0).Get(), VE_STREAM_EOF, JSON_undefined},
		{"unlisted tag skip of 3", Bytes().Tag(200).U32(3).Get(), VE_STREAM_EOF, JSON_undefined},
		{"unlisted tag skip past the end", Bytes().Tag(9).U32(7).U16(0).Get(), VE_STREAM_EOF, JSON_undefined},
		{"unlisted tag skipped", Bytes().Tag(6).U32(2).Tag(254).U32(6).U16(0).Tag(2).Get(), VE_OK, JSON_array},
		{"object marker for undefined", Bytes().Tag(5).U16(0xFFFE).Get(), VE_OK, JSON_undefined},
		{"object without its marker", Bytes().Tag(5).Tag(0xFF).Get(), VE_STREAM_EOF, JSON_undefined},
		{"name past the end", Bytes().Tag(5).U16(5).U16('a').Get(), VE_STREAM_EOF, JSON_object},
		{"long name length passed over", Bytes().Tag(5).U16(0x8000).U16(0xFFFF).Get(), VE_OK, JSON_object},
		{"payload header cut short", Bytes().Tag(5).U16(0xFFFD).U32(0x41424344).U32(0).Get(), VE_STREAM_EOF, JSON_object},
		{"payload past the end", Bytes().Tag(5).U16(0xFFFD).U32(0x41424344).U64(3).U16(0).Get(), VE_STREAM_EOF, JSON_object},
		{"unknown payload passed over", Bytes().Tag(5).U16(0xFFFD).U32(0x41424344).U64(2).U16(0).Get(), VE_OK, JSON_object},
		{"class reference passed over", Bytes().Tag(5).Name(u"k").Tag(2).U16(0xFFFD).U32(0x2A2A2A2A).U64(8).Name(u"n").Name(u"C").Get(),
			VE_OK, JSON_object},
		{"reference at the root", Bytes().Text(255, u"#").Get(), VE_OK, JSON_undefined},
		{"reference to nowhere", Bytes().Tag(6).U32(1).Text(255, u"#/9").Get(), VE_OK, JSON_array},
		{"containers as deep as text allows", deep(256), VE_OK, JSON_array},
		{"containers deeper", deep(257), VE_STACK_OVERFLOW, JSON_array},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VTask::FlushErrors();
		VJSONValue out;
		EXPECT_EQ(Read(row.bytes, out), row.error);
		EXPECT_EQ(VTask::GetLastError(), row.error);
		EXPECT_EQ(out.GetType(), row.type);
	}
	VJSONValue out;
	ASSERT_EQ(Read(rows[10].bytes, out), VE_OK);
	EXPECT_EQ(out.GetArray()->GetAt(1).GetType(), JSON_true);
	ASSERT_EQ(Read(rows[18].bytes, out), VE_OK);
	EXPECT_EQ(out.GetProperty(VString("k")).GetType(), JSON_true);
	ASSERT_EQ(Read(rows[20].bytes, out), VE_OK);
	EXPECT_TRUE(out.GetArray()->GetAt(0).IsUndefined());
	VTask::FlushErrors();
}

// A native implementation whose payload is a few bytes of its own.
class Payload : public VObject, public IJSONObject
{
public:
	static constexpr uint32 kSignature = 0x54657374;  // Test

	explicit Payload(std::string bytes, bool writes = true) : fBytes(std::move(bytes)), fWrites(writes) {}
	uint32 IJSON_GetBinarySignature() const override { return kSignature; }
	EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, uint64* error) override
	{
		if (!fWrites)
			return IJSONObject::IJSON_WriteToBuffer(buffer, error);
		const uint64 size = fBytes.size();
		buffer.AddData(&size, sizeof(size));
		buffer.AddData(fBytes.data(), size);
		return eJSONStatusHandled;
	}
	static IJSONObject* Create(VJSONObject*, uint32, const void* data, size_t size, VRefPtr<VJSONObject>&, uint64*)
	{
		return new Payload(std::string(static_cast<const char*>(data), size));
	}

	std::string fBytes;
	bool fWrites;
};

TEST(VJSONBinary, WriterLimitsAndNativePayloads)
{
	VTask::FlushErrors();
	VJSONBinaryWriter writer(0);
	VJSONBinaryWriter::Buffer frozen(nullptr);  // without an allocator the buffer cannot grow
	EXPECT_EQ(writer.StreamValue(VJSONValue(1.0), frozen), VE_MEMORY_FULL);
	EXPECT_EQ(VTask::GetLastError(), VE_MEMORY_FULL);

	VError error = VE_OK;
	Write(Object({{std::string(32767, 'n').c_str(), VJSONValue(JSON_null)}}), &error);
	EXPECT_EQ(error, VE_OK);
	Write(Object({{std::string(32768, 'n').c_str(), VJSONValue(JSON_null)}}), &error);
	EXPECT_EQ(error, VE_INVALID_PARAMETER);
	Write(Nested(256), &error);
	EXPECT_EQ(error, VE_OK);
	Write(Nested(257), &error);
	EXPECT_EQ(error, VE_STACK_OVERFLOW);

	const ByteVector nested = Write(Nested(2));
	EXPECT_EQ(WithStackNearlySpent([&] {
		VError result = VE_OK;
		Write(Nested(2), &result);
		return result;
	}),
		VE_STACK_OVERFLOW);
	EXPECT_EQ(WithStackNearlySpent([&] {
		VJSONValue out;
		return Read(nested, out);
	}),
		VE_STACK_OVERFLOW);

	// Payloads: written after the signature, recreated by the registered creator, passed over otherwise.
	VJSONObjectFactory* factory = VJSONObjectFactory::Get();
	VRefPtr<Payload> implementation(new Payload("\x01\x02\x03"), true);
	VRefPtr<VJSONObject> object(new VJSONObject(nullptr, implementation.Get(), false), true);
	object->SetProperty(VString("own"), VJSONValue(2.0));
	const ByteVector bytes = Write(VJSONValue(object.Get()));
	EXPECT_EQ(bytes, Bytes().Tag(5).Name(u"own").Number(2.0).U16(0xFFFD).U32(Payload::kSignature).U64(3).Tag(1).Tag(2).Tag(3).Get());
	EXPECT_FALSE(factory->IsSignatureSupported(Payload::kSignature));
	VJSONValue back;
	ASSERT_EQ(Read(bytes, back), VE_OK);
	EXPECT_EQ(back.GetObject()->GetImplementation(), nullptr);
	ASSERT_TRUE(factory->RegisterSignature(Payload::kSignature, &Payload::Create));
	EXPECT_TRUE(factory->IsSignatureSupported(Payload::kSignature));
	ASSERT_EQ(Read(bytes, back), VE_OK);
	const auto* recreated = dynamic_cast<const Payload*>(back.GetObject()->GetImplementation());
	ASSERT_NE(recreated, nullptr);
	EXPECT_EQ(recreated->fBytes, "\x01\x02\x03");
	EXPECT_EQ(back.GetProperty(VString("own")).GetNumber(), 2.0);
	EXPECT_TRUE(factory->UnRegisterSignature(Payload::kSignature));
	EXPECT_FALSE(factory->UnRegisterSignature(Payload::kSignature));

	VRefPtr<Payload> silent(new Payload("", false), true);
	VRefPtr<VJSONObject> unwritable(new VJSONObject(nullptr, silent.Get(), false), true);
	Write(VJSONValue(unwritable.Get()), &error);
	EXPECT_EQ(error, MakeVError(kVELK_SIGNATURE, 915));
	VTask::FlushErrors();
}

// Under option 2048 what the text cannot carry travels as Base64 binary, and the parser reads it back.
TEST(VJSONBinary, TextEmbedding)
{
	constexpr uint32 kFallback = 2048 | VString::kJSON_WITH_QUOTES;
	const VJSONValue samples[] = {SharedUnderTwoNames(), SelfContainingArray()};
	for (const VJSONValue& sample : samples)
	{
		VString text;
		ASSERT_EQ(sample.Stringify(text, kFallback), VE_OK);
		EXPECT_EQ(to_string(text).rfind("{\"__PRIVATE_BINARY_OBJECT\":\"", 0), 0u) << to_string(text);
		VJSONValue back;
		ASSERT_EQ(back.ParseFromString(text), VE_OK);
		EXPECT_EQ(Write(back), Write(sample));
		// Embedded inside other text it is read back in place too.
		VJSONValue outer;
		ASSERT_EQ(outer.ParseFromString(VString(("[1," + to_string(text) + "]").c_str())), VE_OK);
		EXPECT_EQ(Write(outer.GetArray()->GetAt(1)), Write(sample));
	}
	VString plain;
	ASSERT_EQ(Object({{"a", VJSONValue(1.0)}}).Stringify(plain, kFallback), VE_OK);
	EXPECT_EQ(to_string(plain), "{\"a\":1}");

	VJSONValue notBase64;
	ASSERT_EQ(notBase64.ParseFromString(VString("{\"__PRIVATE_BINARY_OBJECT\":\"#!\"}")), VE_OK);
	EXPECT_EQ(to_string(notBase64.GetProperty(VString("__PRIVATE_BINARY_OBJECT")).GetString()), "#!");
	VJSONValue corrupt;
	// "A/8=" is the bytes 03 FF: a string cut short.
	EXPECT_EQ(corrupt.ParseFromString(VString("{\"__PRIVATE_BINARY_OBJECT\":\"A/8=\"}")), VE_STREAM_EOF);
	VTask::FlushErrors();
}

TEST(VJSONPointerResolver, ResolvesInTheRootDocument)
{
	const VJSONValue list = Array({VJSONValue(10.0), VJSONValue(20.0), VJSONValue(30.0)});
	const VJSONValue root = Object({{"c/d", VJSONValue(1.0)}, {"m~n", VJSONValue(2.0)}, {"x~1", VJSONValue(3.0)},
		{"", VJSONValue(4.0)}, {"list", list}});
	struct Row
	{
		const char* pointer;
		double number;
		int error;
	};
	VTask::FlushErrors();
	const Row rows[] = {{"#/c~1d", 1, 0}, {"#/m~0n", 2, 0}, {"#/x~01", 3, 0}, {"#/", 4, 0}, {"#/list/2", 30, 0},
		{"#/list/01", 0, 907}, {"#/list/-", 0, 909}, {"#/list/7", 0, 906}, {"#/list/x", 0, 907}, {"#/list/1/z", 0, 910},
		{"#c", 0, 907}, {"#/none", 0, 906}, {"other.json#/a", 0, 913}, {"https://host/a.json#/a", 0, 909}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.pointer);
		VRefPtr<VJSONPointerResolver> resolver(new VJSONPointerResolver(root), true);
		VRefPtr<VJSONObject> reference(new VJSONObject(nullptr, nullptr, false), true);
		reference->SetPropertyAsString(VJSONPointerResolver::sRefPropertyName, VString(row.pointer));
		VJSONValue result;
		EXPECT_TRUE(resolver->ResolveOnePointer(reference.Get(), false, result));
		if (row.error == 0)
		{
			EXPECT_EQ(result.GetNumber(), row.number);
			EXPECT_EQ(resolver->GetErrors(), nullptr);
			continue;
		}
		EXPECT_TRUE(result.IsUndefined());
		ASSERT_NE(resolver->GetErrors(), nullptr);
		const VJSONValue recorded = resolver->GetErrors()->GetAt(0);
		EXPECT_EQ(recorded.GetProperty(VString("code")).GetNumber(), row.error);
		EXPECT_EQ(to_string(recorded.GetProperty(VString("pointerURI")).GetString()), row.pointer);
	}
	// Nothing is raised on the caller's context, and an object without "$ref" is no reference.
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
	VRefPtr<VJSONPointerResolver> resolver(new VJSONPointerResolver(root), true);
	VJSONValue result;
	EXPECT_FALSE(resolver->ResolveOnePointer(root.GetObject(), false, result));
	EXPECT_EQ(result.GetObject(), root.GetObject());

	// Followed references: one met on the way is replaced by its target; one that leads into itself is a cycle.
	VJSONValue chained = Object({{"to", Object({{"$ref", VJSONValue(VString("#/list"))}})}, {"list", list}});
	VRefPtr<VJSONPointerResolver> following(new VJSONPointerResolver(chained), true);
	VRefPtr<VJSONObject> reference(new VJSONObject(nullptr, nullptr, false), true);
	reference->SetPropertyAsString(VJSONPointerResolver::sRefPropertyName, VString("#/to/1"));
	EXPECT_TRUE(following->ResolveOnePointer(reference.Get(), true, result));
	EXPECT_EQ(result.GetNumber(), 20.0);
	VJSONValue looping = Object({{"a", Object({{"$ref", VJSONValue(VString("#/a/b"))}})}});
	VRefPtr<VJSONPointerResolver> cycle(new VJSONPointerResolver(looping), true);
	EXPECT_TRUE(cycle->ResolveOnePointer(looping.GetProperty(VString("a")).GetObject(), true, result));
	EXPECT_TRUE(result.IsUndefined());
	ASSERT_NE(cycle->GetErrors(), nullptr);
	EXPECT_EQ(cycle->GetErrors()->GetAt(0).GetProperty(VString("code")).GetNumber(), 908);
}

}  // namespace
}  // namespace velk
