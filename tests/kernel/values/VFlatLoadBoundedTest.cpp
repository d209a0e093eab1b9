// The bounded flat-form loader of every value kind: stored data cut short, or announcing more than it holds,
// is refused without reading past the bytes given and without touching the value.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/VFlatBytes.h"
#include "common/VFailingAllocations.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VByte.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"
#include "kernel/values/VWord.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// A flat string datum whose length word says `length` while only the units of `units` follow.
std::vector<uint8> LyingString(uint32 length, const std::u16string& units)
{
	std::vector<uint8> bytes(sizeof(length) + units.size() * sizeof(UniChar));
	std::memcpy(bytes.data(), &length, sizeof(length));
	std::memcpy(bytes.data() + sizeof(length), units.data(), units.size() * sizeof(UniChar));
	return bytes;
}

// The first `count` bytes in a heap block of exactly that size, so that reading past them is caught.
std::unique_ptr<uint8[]> Exactly(const std::vector<uint8>& bytes, size_t count)
{
	std::unique_ptr<uint8[]> block(new uint8[count]);
	std::memcpy(block.get(), bytes.data(), count);
	return block;
}

struct Row
{
	const char* name;
	// A value of the kind that differs from the stored one.
	std::unique_ptr<VValueSingle> (*makeOther)();
	// The value stored; null when the bytes lie about their length.
	std::unique_ptr<VValueSingle> (*makeStored)();
	std::vector<uint8> lyingBytes;
};

template <class T, class... A>
std::unique_ptr<VValueSingle> MakeValue(A... args)
{
	return std::make_unique<T>(args...);
}

TEST(VFlatLoadBoundedTest, RefusesDataThatDoesNotHoldTheWholeDatum)
{
	const Row rows[] = {
		{"boolean", [] { return MakeValue<VBoolean>(uint8(0)); }, [] { return MakeValue<VBoolean>(uint8(1)); }, {}},
		{"byte", [] { return MakeValue<VByte>(int8(1)); }, [] { return MakeValue<VByte>(int8(-5)); }, {}},
		{"word", [] { return MakeValue<VWord>(int16(1)); }, [] { return MakeValue<VWord>(int16(0x1234)); }, {}},
		{"long", [] { return MakeValue<VLong>(1); }, [] { return MakeValue<VLong>(-123456); }, {}},
		{"long8", [] { return MakeValue<VLong8>(int64(1)); }, [] { return MakeValue<VLong8>(int64(0x0102030405060708)); }, {}},
		{"real", [] { return MakeValue<VReal>(1.0); }, [] { return MakeValue<VReal>(-3.25); }, {}},
		{"time", [] { return MakeValue<VTime>(uint64(1)); }, [] { return MakeValue<VTime>(uint64(0x07E8000C001F0000)); }, {}},
		{"duration", [] { return MakeValue<VDuration>(int64(1)); }, [] { return MakeValue<VDuration>(int64(-42)); }, {}},
		{"string", [] { return MakeValue<VString>("before"); }, [] { return MakeValue<VString>("abc"); }, {}},
		{"empty string", [] { return MakeValue<VString>("before"); }, [] { return MakeValue<VString>(""); }, {}},
		{"string on the heap", [] { return MakeValue<VString>("before"); },
			[] { return MakeValue<VString>(std::u16string(300, u'x').c_str()); }, {}},
		{"string announcing 1000 units", [] { return MakeValue<VString>("before"); }, nullptr, LyingString(1000, u"abc")},
		{"string announcing one unit more", [] { return MakeValue<VString>("before"); }, nullptr, LyingString(4, u"abc")},
		{"string announcing 2^31 units", [] { return MakeValue<VString>("before"); }, nullptr, LyingString(0x80000000u, u"ab")},
		{"string announcing 2^32 - 1 units", [] { return MakeValue<VString>("before"); }, nullptr, LyingString(0xFFFFFFFFu, u"ab")},
		{"string cut inside its length word", [] { return MakeValue<VString>("before"); }, nullptr, {3, 0, 0}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		const std::unique_ptr<VValueSingle> stored = row.makeStored ? row.makeStored() : nullptr;
		const std::vector<uint8> bytes = stored ? test::FlatBytes(*stored) : row.lyingBytes;
		const std::unique_ptr<VValueSingle> other = row.makeOther();
		// Whole data are loaded from exactly their size on; lying data never are.
		const size_t whole = stored ? bytes.size() : bytes.size() + 1;

		for (size_t available = 0; available <= bytes.size(); ++available)
		{
			SCOPED_TRACE(testing::Message() << "available " << available);
			const std::unique_ptr<uint8[]> data = Exactly(bytes, available);
			std::unique_ptr<VValueSingle> target = row.makeOther();
			target->SetDirty(false);

			const void* behind = target->LoadFromPtrBounded(data.get(), available);
			std::unique_ptr<VValue> made(target->GetValueInfo() != nullptr
				? target->GetValueInfo()->LoadFromPtrBounded(data.get(), available) : nullptr);
			if (available < whole)
			{
				EXPECT_EQ(behind, nullptr);
				EXPECT_FALSE(target->IsDirty());
				EXPECT_FALSE(target->IsNull());
				EXPECT_EQ(target->CompareTo(*other, true), CR_EQUAL);
				EXPECT_EQ(made, nullptr);
				continue;
			}
			EXPECT_EQ(behind, data.get() + bytes.size());
			EXPECT_TRUE(target->IsDirty());
			EXPECT_FALSE(target->IsNull());
			EXPECT_EQ(target->CompareTo(*stored, true), CR_EQUAL);
			if (target->GetValueInfo() != nullptr)
			{
				ASSERT_NE(made, nullptr);
				EXPECT_EQ(made->IsVValueSingle()->CompareTo(*stored, true), CR_EQUAL);
			}
		}

		// More bytes than the datum: only the datum is read.
		if (stored)
		{
			std::vector<uint8> padded = bytes;
			padded.resize(bytes.size() + 5, 0xEE);
			std::unique_ptr<VValueSingle> target = row.makeOther();
			EXPECT_EQ(target->LoadFromPtrBounded(padded.data(), padded.size()), padded.data() + bytes.size());
			EXPECT_EQ(target->CompareTo(*stored, true), CR_EQUAL);
			// The unbounded loader agrees on whole data.
			std::unique_ptr<VValueSingle> trusted = row.makeOther();
			EXPECT_EQ(trusted->LoadFromPtr(bytes.data()), bytes.data() + bytes.size());
			EXPECT_EQ(trusted->CompareTo(*stored, true), CR_EQUAL);
		}
	}
}

// A whole datum whose string cannot be given a buffer is still consumed; the string stays as it was.
TEST(VFlatLoadBoundedTest, StringWithoutMemoryIsLeftAsItWas)
{
	const std::vector<uint8> bytes = test::FlatBytes(VString("abc"));
	VString target("before");
	const VString sharer(target);
	VTask::FlushErrors();
	VCppMemMgr* previous = VObject::sCppMemMgr;
	// A manager with no backend refuses every block: the shared buffer cannot be copied.
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	const void* behind = target.LoadFromPtrBounded(bytes.data(), bytes.size());
	VObject::sCppMemMgr = previous;
	delete refusing;
	EXPECT_EQ(behind, bytes.data() + bytes.size());
	EXPECT_EQ(VTask::GetLastError(), VE_STRING_ALLOC_FAILED);
	EXPECT_TRUE(target.EqualToStringRaw(VString("before")));
	EXPECT_TRUE(sharer.EqualToStringRaw(VString("before")));
	VTask::FlushErrors();
}

// A descriptor that cannot make its value answers null and raises velk 100 instead of throwing.
TEST(VFlatLoadBoundedTest, DescriptorWithoutMemoryAnswersNull)
{
	const std::vector<uint8> bytes = test::FlatBytes(VLong(7));
	// The task's error context is made on demand: one error raised first makes it, so that it exists before
	// memory runs out and can record the shortage.
	_ThrowError(VE_MEMORY_FULL);
	VTask::FlushErrors();
	VValue* made = reinterpret_cast<VValue*>(1);
	{
		test::StFailingAllocations failing(0);
		made = VLong::sInfo.LoadFromPtrBounded(bytes.data(), bytes.size());
	}
	EXPECT_EQ(made, nullptr);
	EXPECT_EQ(VTask::GetLastError(), VE_MEMORY_FULL);
	VTask::FlushErrors();
}

}  // namespace
}  // namespace velk
