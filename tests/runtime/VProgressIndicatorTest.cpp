#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/intl/VUTFCodec.h"
#include "kernel/strings/VString.h"
#include "runtime/VProgressIndicator.h"

namespace velk {
namespace {

std::string Text(const VString& text)
{
	return ToUTF8String(text.GetCPointer(), text.GetLength());
}

// Records the hooks and cancels when told to.
class RecordingIndicator : public VProgressIndicator
{
public:
	std::vector<int32> fBegun;
	std::vector<int32> fEnded;
	bool fCancel = false;

protected:
	void DoBeginSession(int32 count) override { fBegun.push_back(count); }
	void DoEndSession(int32 count) override { fEnded.push_back(count); }
	bool DoProgress() override { return !fCancel && VProgressIndicator::DoProgress(); }
};

TEST(VProgressIndicator, StepsWithoutSessionChangeNothing)
{
	VProgressIndicator* indicator = new VProgressIndicator;
	EXPECT_EQ(indicator->GetRefCount(), 1);
	EXPECT_TRUE(indicator->Progress(5));
	EXPECT_TRUE(indicator->Increment(3));
	EXPECT_TRUE(indicator->Decrement(1));
	indicator->EndSession();
	EXPECT_EQ(indicator->GetSessionCount(), 0);
	EXPECT_EQ(indicator->GetCurrentValue(), 0);
	EXPECT_EQ(indicator->ComputePercentDone(), 0.0f);
	indicator->Release();
}

TEST(VProgressIndicator, NestedSessionsRestoreTheOuterOne)
{
	RecordingIndicator indicator;
	indicator.BeginSession(10, VString("Copying"));
	EXPECT_TRUE(indicator.Progress(3));
	indicator.BeginSession(10, VString("File"));
	EXPECT_TRUE(indicator.Increment(2));
	EXPECT_TRUE(indicator.Increment(3));
	EXPECT_EQ(indicator.GetCurrentValue(), 5);
	EXPECT_FLOAT_EQ(indicator.ComputePercentDone(), 0.35f);
	EXPECT_EQ(indicator.GetSessionCount(), 2);
	indicator.EndSession();
	VString message;
	indicator.GetMessage(message);
	EXPECT_EQ(Text(message), "Copying");
	EXPECT_EQ(indicator.GetCurrentValue(), 3);
	EXPECT_EQ(indicator.GetMaxValue(), 10);
	indicator.EndSession();
	indicator.EndSession();
	EXPECT_EQ(indicator.GetSessionCount(), 0);
	EXPECT_EQ(indicator.fBegun, (std::vector<int32>{1, 2}));
	EXPECT_EQ(indicator.fEnded, (std::vector<int32>{2, 1}));
}

TEST(VProgressIndicator, PercentDoneOfUndeterminedSessions)
{
	VProgressIndicator indicator;
	indicator.BeginUndeterminedSession(VString("Waiting"));
	EXPECT_EQ(indicator.GetMaxValue(), -1);
	indicator.Progress(7);
	EXPECT_FLOAT_EQ(indicator.ComputePercentDone(), 7.0f);
	indicator.BeginSession(4, VString("Inner"));
	indicator.Progress(2);
	EXPECT_EQ(indicator.ComputePercentDone(), 0.0f);
	indicator.SetMaxValue(8);
	EXPECT_EQ(indicator.GetMaxValue(), 8);
	indicator.EndSession();
	indicator.EndSession();
}

TEST(VProgressIndicator, CancelledStepAnswersFalse)
{
	RecordingIndicator indicator;
	indicator.BeginSession(100, VString("Work"));
	EXPECT_TRUE(indicator.Progress(10));
	indicator.fCancel = true;
	EXPECT_FALSE(indicator.Progress(20));
	EXPECT_FALSE(indicator.Increment(1));
	EXPECT_FALSE(indicator.SetMessageAndValue(VString("Later"), 50));
	EXPECT_EQ(indicator.GetCurrentValue(), 50);
	indicator.Reset(VString("Again"), 5, 1);
	EXPECT_EQ(indicator.GetMaxValue(), 5);
	EXPECT_EQ(indicator.GetCurrentValue(), 1);
	indicator.EndSession();
}

}  // namespace
}  // namespace velk
