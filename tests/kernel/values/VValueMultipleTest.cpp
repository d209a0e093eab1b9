// Defaults of multi-element values: the widening chain of the element setters and what a value of
// several elements answers about itself.
#include "kernel/values/VValueMultiple.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/strings/VString.h"

namespace velk {
namespace {

// Records "setter value@index" for the setters that end the chain: reals always, longs when asked.
class RecordingMultiple : public VValueMultiple
{
public:
	explicit RecordingMultiple(bool catchLongs) : fCatchLongs(catchLongs) {}

	std::vector<std::string> fCalls;

	int32 GetCount() const override { return 3; }
	void FromLong(int32 value, int32 index) override
	{
		if (fCatchLongs)
			fCalls.push_back("long " + std::to_string(value) + "@" + std::to_string(index));
		else
			VValueMultiple::FromLong(value, index);
	}
	void FromReal(double value, int32 index) override
	{
		fCalls.push_back("real " + std::to_string(int64(value)) + "@" + std::to_string(index));
	}

private:
	bool fCatchLongs;
};

TEST(VValueMultipleTest, SettersWidenUntilAKindHandlesThem)
{
	// A kind of reals sees every integer as a real, with its sign and full width.
	RecordingMultiple reals(false);
	reals.FromBoolean(200, 1);
	reals.FromByte(-5, 2);
	reals.FromWord(-30000, 3);
	reals.FromLong(-2000000000, 4);
	reals.FromLong8(int64(1) << 40, 5);
	EXPECT_EQ(reals.fCalls, (std::vector<std::string>{"real 200@1", "real -5@2", "real -30000@3",
													  "real -2000000000@4", "real 1099511627776@5"}));

	// A kind of longs catches the narrow integers before they become reals; long8 goes straight to real.
	RecordingMultiple longs(true);
	longs.FromBoolean(1, 7);
	longs.FromByte(-128, 8);
	longs.FromWord(32767, 9);
	longs.FromLong8(-3, 10);
	EXPECT_EQ(longs.fCalls, (std::vector<std::string>{"long 1@7", "long -128@8", "long 32767@9", "real -3@10"}));

	// Text setters are left to the kinds: nothing reaches the numeric ones.
	longs.fCalls.clear();
	longs.FromString(VString(u"12"), 1);
	EXPECT_TRUE(longs.fCalls.empty());
}

TEST(VValueMultipleTest, WholeValueDefaults)
{
	RecordingMultiple multiple(false);
	EXPECT_EQ(multiple.GetValueKind(), VK_UNDEFINED);
	EXPECT_EQ(multiple.Clone(), nullptr);
	EXPECT_EQ(multiple.FullyClone(), nullptr);
	EXPECT_FALSE(multiple.CanBeEvaluated());
	EXPECT_EQ(multiple.IsVValueSingle(), nullptr);
	EXPECT_EQ(multiple.CompareTo(VString(u"7"), true, 1), CR_UNRELEVANT);
}

}  // namespace
}  // namespace velk
