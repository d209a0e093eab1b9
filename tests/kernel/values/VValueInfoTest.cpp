// Kind descriptors and the registry of kinds: lookups, replacement and removal, registration from several
// threads, values made by kind, conversion between kinds and the scalar descriptor.
#include "kernel/values/VValueInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VEmpty.h"
#include "kernel/values/VValueMultiple.h"

namespace velk {
namespace {

// Kinds no value class of the toolbox uses.
constexpr ValueKind kTestKind = 40000;
constexpr ValueKind kOtherKind = 40001;
constexpr ValueKind kThreadKinds = 41000;

// A single value holding one int64, with a flat form of its 8 bytes.
class Counter : public VValueSingle
{
public:
	int64 fValue = 0;

	VValue* Clone() const override { return new Counter(*this); }
	CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }
	void FromLong8(int64 value) override
	{
		fValue = value;
		SetNull(false);
	}
	void GetValue(VValueSingle& value) const override { value.FromLong8(fValue); }
	const void* LoadFromPtr(const void* data, uint8) override
	{
		int64 value;
		std::memcpy(&value, data, sizeof(value));
		FromLong8(value);
		return static_cast<const char*>(data) + sizeof(value);
	}
};

class Multiple : public VValueMultiple
{
public:
	int32 GetCount() const override { return 0; }
};

// A descriptor making values of class T, with a fixed answer for the plain flat comparison.
template <class T>
class TestInfo : public VValueInfo
{
public:
	using VValueInfo::VValueInfo;
	VValue* Generate() const override { return new T(); }
	VValue* Generate(VBlob*) const override { return new T(); }
	VValue* LoadFromPtr(const void*, bool) const override { return new T(); }
	void* ByteSwapPtr(void* data, bool) const override { return data; }
	CompareResult CompareTwoPtrToData(const void*, const void*, bool) const override { return CR_BIGGER; }
};

class PlainValue : public VValue
{
public:
	VValue* Clone() const override { return new PlainValue(); }
};

TEST(VValueInfoTest, RegistrationLookupAndRemoval)
{
	EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), nullptr);
	{
		TestInfo<Counter> info(kTestKind);
		EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), &info);
		std::unique_ptr<VValue> made(VValue::NewValueFromValueKind(kTestKind));
		EXPECT_NE(dynamic_cast<Counter*>(made.get()), nullptr);

		VValue::UnregisterValueInfo(&info);
		EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), nullptr);
		// Removing twice, removing null and registering null are ignored.
		VValue::UnregisterValueInfo(&info);
		VValue::UnregisterValueInfo(nullptr);
		VValue::RegisterValueInfo(nullptr);
		EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), nullptr);
		VValue::RegisterValueInfo(&info);
		EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), &info);
	}
	EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), nullptr);

	// The registry kind is the key, not the described kind.
	TestInfo<Counter> keyed(kTestKind, kOtherKind);
	EXPECT_EQ(keyed.GetKind(), kTestKind);
	EXPECT_EQ(VValue::ValueInfoFromValueKind(kOtherKind), &keyed);
	EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), nullptr);
}

TEST(VValueInfoTest, LaterRegistrationWinsAndAnyRemovalClearsTheKind)
{
	auto first = std::make_unique<TestInfo<Counter>>(kTestKind);
	TestInfo<Counter> second(kTestKind);
	EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), &second);
	first.reset();
	EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), nullptr);
}

TEST(VValueInfoTest, ConvertTo)
{
	Counter source;
	source.FromLong8(-42);
	for (const ValueKind kind : {ValueKind(7), ValueKind(12), ValueKind(106), kTestKind})
	{
		EXPECT_EQ(VValue::NewValueFromValueKind(kind), nullptr) << kind;
		EXPECT_EQ(source.ConvertTo(kind), nullptr) << kind;
	}

	{
		TestInfo<Counter> info(kTestKind);
		for (const bool null : {false, true})
		{
			source.SetNull(null);
			std::unique_ptr<VValueSingle> converted(source.ConvertTo(kTestKind));
			Counter* counter = dynamic_cast<Counter*>(converted.get());
			ASSERT_NE(counter, nullptr);
			EXPECT_EQ(counter->fValue, -42);
			EXPECT_EQ(counter->IsNull(), null);
		}
	}

	// Not a single value: answers null, and the value made for the kind is deleted (else the leak
	// checker reports it).
	TestInfo<Multiple> multiple(kTestKind);
	EXPECT_EQ(source.ConvertTo(kTestKind), nullptr);
}

TEST(VValueInfoTest, DefaultsOfDescriptorAndDefaultDescriptor)
{
	TestInfo<Counter> info(kTestKind);
	const VValueInfo& base = info;
	const VCompareOptions options;
	const int64 a = 1;
	const int64 b = 2;
	// The wildcard forms go through the plain ones, so an override of those is seen.
	EXPECT_EQ(base.CompareTwoPtrToData_Like(&a, &b), CR_BIGGER);
	EXPECT_EQ(base.CompareTwoPtrToDataBegining_Like(&a, &b), CR_EQUAL);
	EXPECT_EQ(base.CompareTwoPtrToDataWithOptions(&a, &b, options), CR_EQUAL);
	EXPECT_EQ(base.GetSizeOfValueDataPtr(&a), 0u);

	const VValueInfo* fallback = PlainValue().GetValueInfo();
	ASSERT_NE(fallback, nullptr);
	EXPECT_EQ(fallback->GetKind(), VK_UNDEFINED);
	EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_UNDEFINED), fallback);
	std::unique_ptr<VValue> made(fallback->Generate());
	VEmpty* empty = dynamic_cast<VEmpty*>(made.get());
	ASSERT_NE(empty, nullptr);
	EXPECT_TRUE(empty->IsNull());
	EXPECT_FALSE(empty->CanBeEvaluated());
	EXPECT_EQ(empty->CompareTo(*empty), CR_UNRELEVANT);
	uint8 bytes[2] = {1, 2};
	EXPECT_EQ(fallback->ByteSwapPtr(bytes, true), bytes);
	EXPECT_EQ(bytes[0], 1);
}

TEST(VValueInfoTest, RegistrationFromSeveralThreads)
{
	constexpr int kThreads = 8;
	// A kind registered throughout, which every reader must keep seeing.
	TestInfo<Counter> stable(kOtherKind);
	std::atomic<int> failures{0};
	std::vector<std::thread> threads;
	for (int t = 0; t < kThreads; ++t)
	{
		threads.emplace_back([t, &stable, &failures] {
			const ValueKind own = ValueKind(kThreadKinds + t);
			for (int round = 0; round < 300; ++round)
			{
				// All threads also replace and remove one shared kind, which nobody reads.
				TestInfo<Multiple> shared(kTestKind);
				auto info = std::make_unique<TestInfo<Counter>>(own);
				std::unique_ptr<VValue> made(VValue::NewValueFromValueKind(own));
				if (VValue::ValueInfoFromValueKind(own) != info.get() || dynamic_cast<Counter*>(made.get()) == nullptr
					|| VValue::ValueInfoFromValueKind(kOtherKind) != &stable)
					++failures;
				info.reset();
				if (VValue::ValueInfoFromValueKind(own) != nullptr)
					++failures;
			}
		});
	}
	for (std::thread& t : threads)
		t.join();
	EXPECT_EQ(failures.load(), 0);
	EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), nullptr);
	EXPECT_EQ(VValue::ValueInfoFromValueKind(kOtherKind), &stable);
}

TEST(VValueInfoTest, ScalarDescriptor)
{
	VValueInfo_scalar<Counter, kTestKind, int64> signedInfo;
	VValueInfo_scalar<Counter, kOtherKind, uint64> unsignedInfo;
	EXPECT_EQ(VValue::ValueInfoFromValueKind(kTestKind), &signedInfo);
	EXPECT_EQ(signedInfo.GetAvgSpace(), 8u);

	// Flat data inside packed stores are not aligned.
	uint8 bytes[10] = {0, 0xF9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 10};
	std::unique_ptr<VValue> loaded(signedInfo.LoadFromPtr(bytes + 1));
	Counter* counter = dynamic_cast<Counter*>(loaded.get());
	ASSERT_NE(counter, nullptr);
	EXPECT_EQ(counter->fValue, -7);
	EXPECT_EQ(signedInfo.GetSizeOfValueDataPtr(bytes + 1), 8u);
	EXPECT_EQ(signedInfo.ByteSwapPtr(bytes + 1, true), bytes + 9);
	const uint8 swapped[10] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF9, 10};
	EXPECT_EQ(std::memcmp(bytes, swapped, sizeof(bytes)), 0);

	const VCompareOptions options;
	struct Row
	{
		int64 a;
		int64 b;
		CompareResult asSigned;
		CompareResult asUnsigned;
	};
	const Row rows[] = {
		{1, 2, CR_SMALLER, CR_SMALLER},
		{5, 5, CR_EQUAL, CR_EQUAL},
		{-1, 1, CR_SMALLER, CR_BIGGER},
		{INT64_MAX, INT64_MIN, CR_BIGGER, CR_SMALLER},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(::testing::Message() << row.a << " vs " << row.b);
		EXPECT_EQ(signedInfo.CompareTwoPtrToData(&row.a, &row.b), row.asSigned);
		EXPECT_EQ(signedInfo.CompareTwoPtrToDataBegining(&row.a, &row.b), row.asSigned);
		EXPECT_EQ(signedInfo.CompareTwoPtrToDataWithOptions(&row.a, &row.b, options), row.asSigned);
		EXPECT_EQ(unsignedInfo.CompareTwoPtrToData(&row.a, &row.b, true), row.asUnsigned);
		EXPECT_EQ(unsignedInfo.CompareTwoPtrToDataWithOptions(&row.a, &row.b, options), row.asUnsigned);
	}
}

}  // namespace
}  // namespace velk
