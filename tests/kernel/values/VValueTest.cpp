// The value base: null and dirty flags with their hooks, comparison defaults and what unsupported
// operations answer.
#include "kernel/values/VValueSingle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/strings/VString.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VEmpty.h"
#include "kernel/values/VTime.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// Records its hooks and answers a fixed order, so that the derived defaults can be seen.
class RecordingValue : public VValue
{
public:
	std::vector<std::string> fCalls;
	CompareResult fOrder = CR_SMALLER;

	VValue* Clone() const override { return new RecordingValue(*this); }
	CompareResult CompareToSameKind(const VValue*, bool) const override { return fOrder; }
	CompareResult CompareToSameKindPtr(const void*, bool) const override { return fOrder; }
	uint8 Flags() const { return fFlags; }
	void MarkClean() { fFlags = 0; }
	void SetFlags(uint8 flags) { fFlags = flags; }

protected:
	void DoNullChanged() override { fCalls.push_back(IsNull() ? "null:on" : "null:off"); }
	void DoDirtyChanged() override { fCalls.push_back(IsDirty() ? "dirty:on" : "dirty:off"); }
};

TEST(VValueTest, NullAndDirtyHooks)
{
	RecordingValue v;
	v.MarkClean();

	v.SetNull(true);
	EXPECT_EQ(v.fCalls, (std::vector<std::string>{"null:on", "dirty:on"}));
	EXPECT_EQ(v.Flags(), VValue::kFLAG_NULL | VValue::kFLAG_DIRTY);

	v.fCalls.clear();
	v.SetNull(true);
	EXPECT_TRUE(v.fCalls.empty());

	// Already dirty: only the null hook runs.
	v.SetNull(false);
	EXPECT_EQ(v.fCalls, (std::vector<std::string>{"null:off"}));
	EXPECT_FALSE(v.IsNull());

	v.fCalls.clear();
	v.SetDirty(false);
	v.SetDirty(false);
	v.SetDirty(true);
	EXPECT_EQ(v.fCalls, (std::vector<std::string>{"dirty:off", "dirty:on"}));
}

// Every start state of the two flags against both requests: which hooks run, in which order, and the
// flags left behind.
TEST(VValueTest, SetNullHookOrderFromEveryState)
{
	constexpr uint8 N = VValue::kFLAG_NULL;
	constexpr uint8 D = VValue::kFLAG_DIRTY;
	struct Row
	{
		uint8 start;
		bool null;
		std::vector<std::string> calls;
		uint8 end;
	};
	const Row rows[] = {
		{0, true, {"null:on", "dirty:on"}, N | D},
		{D, true, {"null:on"}, N | D},
		{N, true, {}, N},
		{N | D, true, {}, N | D},
		{0, false, {}, 0},
		{D, false, {}, D},
		{N, false, {"null:off", "dirty:on"}, D},
		{N | D, false, {"null:off"}, D},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(::testing::Message() << "start " << int(row.start) << " null " << row.null);
		RecordingValue v;
		v.SetFlags(row.start);
		v.SetNull(row.null);
		EXPECT_EQ(v.fCalls, row.calls);
		EXPECT_EQ(v.Flags(), row.end);
	}
}

// The dirty test follows the null hook: a hook that cleans the value gets the dirty hook afterwards.
class CleaningValue : public RecordingValue
{
protected:
	void DoNullChanged() override
	{
		RecordingValue::DoNullChanged();
		fFlags &= uint8(~kFLAG_DIRTY);
	}
};

TEST(VValueTest, DirtyIsTestedAfterTheNullHook)
{
	CleaningValue v;
	ASSERT_TRUE(v.IsDirty());
	v.SetNull(true);
	EXPECT_EQ(v.fCalls, (std::vector<std::string>{"null:on", "dirty:on"}));
	EXPECT_TRUE(v.IsDirty());
	EXPECT_TRUE(v.IsNull());
}

// A hook that flips the null bit back must not win over the state asked for.
class StubbornValue : public RecordingValue
{
protected:
	void DoNullChanged() override { fFlags ^= kFLAG_NULL; }
};

TEST(VValueTest, NullStateAskedForWinsOverHook)
{
	StubbornValue v;
	v.SetNull(true);
	EXPECT_TRUE(v.IsNull());
	v.SetNull(false);
	EXPECT_FALSE(v.IsNull());
}

TEST(VValueTest, ComparisonDefaultsDeriveFromTheOrder)
{
	EXPECT_EQ(VValue::InvertCompResult(CR_SMALLER), CR_BIGGER);
	EXPECT_EQ(VValue::InvertCompResult(CR_BIGGER), CR_SMALLER);
	EXPECT_EQ(VValue::InvertCompResult(CR_EQUAL), CR_EQUAL);
	EXPECT_EQ(VValue::InvertCompResult(CR_UNRELEVANT), CR_UNRELEVANT);

	RecordingValue v;
	const int datum = 0;
	EXPECT_EQ(v.CompareBeginingToSameKind(&v), CR_SMALLER);
	EXPECT_EQ(v.CompareToSameKind_Like(&v), CR_SMALLER);
	EXPECT_EQ(v.CompareBeginingToSameKind_Like(&v), CR_SMALLER);
	EXPECT_FALSE(v.EqualToSameKind(&v));
	EXPECT_FALSE(v.EqualToSameKind_Like(&v));
	EXPECT_EQ(v.Swap_CompareToSameKindPtr(&datum), CR_BIGGER);
	EXPECT_EQ(v.Swap_CompareToSameKindPtr_Like(&datum), CR_BIGGER);
	EXPECT_EQ(v.CompareBeginingToSameKindPtr(&datum), CR_SMALLER);
	EXPECT_EQ(v.IsTheBeginingToSameKindPtr_Like(&datum), CR_SMALLER);
	EXPECT_FALSE(v.EqualToSameKindPtr(&datum));
	EXPECT_FALSE(v.Swap_EqualToSameKindPtr_Like(&datum));

	v.fOrder = CR_EQUAL;
	EXPECT_TRUE(v.EqualToSameKind(&v));
	EXPECT_TRUE(v.EqualToSameKindPtr_Like(&datum));
}

TEST(VValueTest, UnsupportedOperations)
{
	RecordingValue v;
	VString text(u"x");

	VTask::FlushErrors();
	EXPECT_EQ(v.FromJSONString(text), VE_UNIMPLEMENTED);
	EXPECT_EQ(VTask::GetLastError(), VE_UNIMPLEMENTED);
	VTask::FlushErrors();
	EXPECT_EQ(v.GetJSONString(text), VE_UNIMPLEMENTED);
	EXPECT_EQ(VTask::GetLastError(), VE_UNIMPLEMENTED);
	EXPECT_EQ(text.GetUniChar(1), u'x');
	VTask::FlushErrors();

	// A kind without a flat form neither reads nor writes past the address it is given.
	const int datum = 7;
	EXPECT_EQ(v.LoadFromPtr(&datum), &datum);
	int out = 0;
	EXPECT_EQ(v.WriteToPtr(&out, 0, 100), &out);
	EXPECT_EQ(out, 0);

	VValue* copy = v.FullyClone();
	EXPECT_NE(dynamic_cast<RecordingValue*>(copy), nullptr);
	delete copy;
}

TEST(VValueTest, SingleValueJSONGoesThroughText)
{
	VString s(u"abc");
	VTask::FlushErrors();
	VString json;
	EXPECT_EQ(s.GetJSONString(json), VE_OK);
	EXPECT_EQ(std::u16string(json.GetCPointer()), u"abc");
	EXPECT_EQ(s.FromJSONString(VString(u"def")), VE_OK);
	EXPECT_EQ(std::u16string(s.GetCPointer()), u"def");
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

// A kind without a time or duration form clears the target instead of leaving stale content in it.
TEST(VValueSingleDefaults, TimeAndDurationGettersClearTheTarget)
{
	VEmpty empty;
	VDuration duration;
	duration.FromLong8(90);
	empty.GetDuration(duration);
	EXPECT_EQ(duration.GetLong8OrMilliSeconds(), 0);
	EXPECT_FALSE(duration.IsNull());

	VTime time;
	time.FromMilliseconds(211813401600000);
	empty.GetTime(time);
	EXPECT_EQ(time.GetMilliseconds(), 0);
	EXPECT_FALSE(time.IsNull());
}

}  // namespace
}  // namespace velk
