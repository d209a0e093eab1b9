#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kernel/intl/VUTFCodec.h"
#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VPtrStream.h"
#include "runtime/IProgressInfoCollector.h"
#include "runtime/VMetricsManager.h"
#include "runtime/VProcess.h"
#include "runtime/VProgressIndicator.h"
#include "runtime/VProgressManager.h"

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

// A session moved in one part at a time: its delta against the unchanged copy names that part only,
// and loading the delta into the copy brings it level.
TEST(VProgressIndicatorInfo, BagDeltasCarryOnlyWhatChanged)
{
	struct Row
	{
		const char* name;
		void (*change)(VProgressIndicatorInfo&);
		uint32 flags;
	};
	const Row rows[] = {
		{"none", [](VProgressIndicatorInfo&) {}, 0},
		{"message", [](VProgressIndicatorInfo& i) { i.SetMessage(VString("Other")); }, 1},
		{"value", [](VProgressIndicatorInfo& i) { i.SetValue(9); }, 2},
		{"max", [](VProgressIndicatorInfo& i) { i.SetMax(-1); }, 4},
		{"start", [](VProgressIndicatorInfo& i) { i.SetStartTime(i.GetStartTime() + 5); }, 8},
		{"interrupt", [](VProgressIndicatorInfo& i) { i.SetCanInterrupt(false); }, 16},
		{"extra", [](VProgressIndicatorInfo& i) { i.SetAttribute(VString("file"), VLong(7)); }, 32 | 64},
	};
	for (const Row& row : rows)
	{
		VProgressIndicatorInfo before;
		before.SetMessage(VString("Copying"));
		before.SetMax(10);
		before.SetValue(3);
		VProgressIndicatorInfo after(before);
		row.change(after);

		VRefPtr<VValueBag> delta(new VValueBag, true);
		VString kind;
		after.SaveToBag(*delta.Get(), kind, &before);
		EXPECT_EQ(Text(kind), "VProgressIndicatorInfo");
		VLong flags;
		ASSERT_TRUE(delta->GetAttribute(StPackedDictionaryKey("fUpdateFlags"), flags)) << row.name;
		EXPECT_EQ(uint32(flags.GetLong()), row.flags) << row.name;
		if (row.flags == 0)
		{
			EXPECT_EQ(delta->GetAttributesCount(), 1) << row.name;
		}

		VProgressIndicatorInfo mirror(before);
		mirror.LoadFromBag(*delta.Get());
		VRefPtr<VValueBag> rest(new VValueBag, true);
		after.SaveToBag(*rest.Get(), kind, &mirror);
		EXPECT_EQ(rest->GetAttributesCount(), 1) << row.name;
		EXPECT_EQ(rest->GetElementNamesCount(), 0) << row.name;
	}
}

// The extra information written under "ExtraInfo" comes back, and so does a bag naming it "Extra".
TEST(VProgressIndicatorInfo, ExtraInformationSurvivesTheBag)
{
	VProgressIndicatorInfo info;
	info.SetAttribute(VString("file"), VLong(7));
	for (const char* element : {"ExtraInfo", "Extra"})
	{
		VRefPtr<VValueBag> bag(new VValueBag, true);
		VString kind;
		info.SaveToBag(*bag.Get(), kind);
		if (std::string(element) != "ExtraInfo")
		{
			VBagArray* written = bag->GetElements(StPackedDictionaryKey("ExtraInfo"));
			ASSERT_NE(written, nullptr);
			VRefPtr<VValueBag> extra(written->RetainNth(1), true);
			bag->RemoveElements(StPackedDictionaryKey("ExtraInfo"));
			bag->AddElement(StPackedDictionaryKey(element), extra.Get());
		}
		VProgressIndicatorInfo loaded;
		loaded.LoadFromBag(*bag.Get());
		ASSERT_NE(loaded.GetExtraInfo(), nullptr) << element;
		VLong value;
		EXPECT_TRUE(loaded.GetExtraInfo()->GetAttribute(StPackedDictionaryKey("file"), value)) << element;
		EXPECT_EQ(value.GetLong(), 7) << element;
	}
}

TEST(VProgressIndicatorInfo, MessageAndJSONShowTheSession)
{
	VProgressIndicatorInfo info;
	info.SetMessage(VString("{curValue} of {maxValue} ({rateValue}%)"));
	info.SetMax(4);
	info.SetValue(3);
	VString message;
	info.GetMessage(message);
	EXPECT_EQ(Text(message), "3 of 4 (75%)");

	VRefPtr<VJSONObject> object(new VJSONObject(nullptr, nullptr, false), true);
	info.GetJSONObject(*object.Get());
	std::vector<VString> names;
	object->GetPropertyNamesInOrder(names);
	std::vector<std::string> texts;
	for (const VString& name : names)
		texts.push_back(Text(name));
	EXPECT_EQ(texts, (std::vector<std::string>{"message", "maxValue", "currentValue", "interruptible", "remote", "uuid",
		"taskId", "startTime", "duration"}));
	EXPECT_EQ(object->GetProperty(VString("currentValue")).GetNumber(), 3);
}

TEST(VProgressManager, FindsLivingIndicators)
{
	VProgressIndicator* indicator = new VProgressIndicator;
	indicator->SetIdentifier(VString("copier"));
	indicator->SetTitle(VString("Copy"));
	indicator->BeginSession(10, VString("Outer"));
	indicator->BeginSession(5, VString("Inner"));
	VUUID uuid = indicator->GetUUID();

	VProgressIndicator* found = VProgressManager::RetainProgress(uuid);
	EXPECT_EQ(found, indicator);
	found->Release();
	found = VProgressManager::_RetainProgressIndicator(VString("copier"));
	EXPECT_EQ(found, indicator);
	found->Release();
	EXPECT_EQ(VProgressManager::_RetainProgressIndicator(VString("other")), nullptr);

	// A second indicator under the same UUID must not take the first one's place, nor remove it.
	delete new VProgressIndicator(uuid, 0);
	found = VProgressManager::RetainProgress(uuid);
	EXPECT_EQ(found, indicator);
	found->Release();

	VRefPtr<VValueBag> all(new VValueBag, true);
	VString identifier("copier");
	VProgressManager::_GetProgressInfo(*all.Get(), &identifier);
	VBagArray* infos = all->GetElements(StPackedDictionaryKey("ProgressInfo"));
	ASSERT_NE(infos, nullptr);
	ASSERT_EQ(infos->GetCount(), 1);
	VBagArray* sessions = infos->_GetNth(1)->GetElements(StPackedDictionaryKey("SessionInfo"));
	ASSERT_NE(sessions, nullptr);
	ASSERT_EQ(sessions->GetCount(), 2);
	VProgressIndicatorInfo outer;
	outer.LoadFromBag(*sessions->_GetNth(1));
	EXPECT_EQ(Text(outer.GetMessageRaw()), "Outer");

	indicator->Release();
	EXPECT_EQ(VProgressManager::RetainProgress(uuid), nullptr);
}

// A reader asks, the worker answers at its next step; the reader never takes the worker's lock, even
// while the worker holds it.
TEST(VProgressIndicator, ReadersGetSnapshotsWithoutTheLock)
{
	VProgressIndicator indicator;
	VProgressSessionInfo info;
	EXPECT_FALSE(indicator.GetProgressInfo(info));
	const char* names[] = {"A", "B", "C", "D"};
	for (const char* name : names)
		indicator.BeginSession(10, VString(name));
	EXPECT_FALSE(indicator.GetProgressInfo(info));  // asked, not yet answered
	indicator.Progress(4);

	indicator.Lock();
	bool got = false;
	std::vector<VRefPtr<VRefCountedSessionInfo>> all;
	std::thread reader([&] {
		got = indicator.GetProgressInfo(info);
		VProgressManager::GetAllProgressInfo(all);
	});
	reader.join();
	indicator.Unlock();
	ASSERT_TRUE(got);
	EXPECT_EQ(info.GetSessionCount(), 4);
	EXPECT_EQ(info.GetShownCount(), 3);
	std::vector<std::string> shown;
	for (int32 place = 1; place <= info.GetShownCount(); ++place)
		shown.push_back(Text(info.GetNth(place).GetMessageRaw()));
	EXPECT_EQ(shown, (std::vector<std::string>{"A", "C", "D"}));
	EXPECT_EQ(info.GetNth(3).GetValue(), 4);
	EXPECT_FLOAT_EQ(info.GetPercentDone(), 0.0004f);
	ASSERT_EQ(all.size(), 1u);
	EXPECT_EQ(all[0]->GetSessions().size(), 4u);

	for (size_t i = 0; i < 4; ++i)
		indicator.EndSession();
	EXPECT_FALSE(indicator.GetProgressInfo(info));
}

// Sends the worker's snapshot (against previous when given) through its bag form to the mirror.
bool SendTo(VProgressIndicator& worker, VProgressIndicator& mirror, VRemoteProgressSessionInfo& last, bool delta)
{
	VRemoteProgressSessionInfo snapshot;
	if (!worker.GetProgressInfo(snapshot, delta ? &last : nullptr))
		return false;
	VRefPtr<VValueBag> bag(new VValueBag, true);
	VString kind;
	snapshot.SaveToBag(*bag.Get(), kind);
	EXPECT_EQ(Text(kind), "DistantSessionInfo");
	VRemoteProgressSessionInfo received;
	received.LoadFromBag(*bag.Get());
	mirror.UpdateFromRemoteInfo(received);
	last = snapshot;
	return true;
}

TEST(VProgressIndicator, MirrorsAnotherIndicator)
{
	VProgressIndicator worker;
	VProgressIndicator mirror;
	mirror.BeginSession(1, VString("Local"));
	worker.BeginSession(10, VString("Outer"));
	worker.Progress(3);
	worker.BeginSession(10, VString("Inner"));

	VRemoteProgressSessionInfo last;
	ASSERT_TRUE(SendTo(worker, mirror, last, false));
	EXPECT_EQ(mirror.GetSessionCount(), 3);
	EXPECT_EQ(mirror.GetMaxValue(), 10);

	worker.Progress(5);
	ASSERT_TRUE(SendTo(worker, mirror, last, true));
	EXPECT_TRUE(last.Has(VRemoteProgressSessionInfo::kCurrent));
	EXPECT_FALSE(last.Has(VRemoteProgressSessionInfo::kSessionStack));
	EXPECT_EQ(mirror.GetCurrentValue(), 5);
	EXPECT_FALSE(SendTo(worker, mirror, last, true));  // nothing changed

	worker.EndSession();  // the mirror follows the new stack
	ASSERT_TRUE(SendTo(worker, mirror, last, true));
	EXPECT_EQ(mirror.GetSessionCount(), 2);
	VString message;
	mirror.GetMessage(message);
	EXPECT_EQ(Text(message), "Outer");
	EXPECT_EQ(mirror.GetCurrentValue(), 3);

	worker.EndSession();
	ASSERT_TRUE(SendTo(worker, mirror, last, true));
	EXPECT_EQ(mirror.GetSessionCount(), 1);
	mirror.GetMessage(message);
	EXPECT_EQ(Text(message), "Local");

	// Ending on the mirror while mirrored sessions are open ends them all, then the local one.
	worker.BeginSession(4, VString("Again"));
	worker.BeginSession(4, VString("Deeper"));
	ASSERT_TRUE(SendTo(worker, mirror, last, true));
	EXPECT_EQ(mirror.GetSessionCount(), 3);
	mirror.EndSession();
	EXPECT_EQ(mirror.GetSessionCount(), 0);
	worker.EndSession();
	worker.EndSession();
}

// Each ended session is reported once, as itself, while collection is on for progress sessions.
TEST(VProgressIndicator, EndedSessionsGoToMetrics)
{
	VMetricsManager* metrics = VProcess::sInstance->GetMetricsManager();
	ASSERT_NE(metrics, nullptr);
	metrics->Start(0, 4);
	{
		VProgressIndicator indicator;
		indicator.SetTitle(VString("Update"));
		indicator.BeginSession(2, VString("Outer"));
		indicator.BeginSession(2, VString("Inner"));
		indicator.EndSession();
		indicator.EndSession();
		indicator.BeginUndeterminedSession(VString("Left open"));
	}
	VRefPtr<VJSONArray> collected = metrics->Collect();
	metrics->Reset();
	ASSERT_TRUE(collected);
	std::vector<std::string> messages;
	for (size_t i = 0; i < collected->GetCount(); ++i)
	{
		VJSONObject* data = collected->GetAt(i).GetObject()->GetProperty(VMetricsManager::sActivityDataKey).GetObject();
		ASSERT_NE(data, nullptr);
		EXPECT_EQ(Text(data->GetProperty(VString("title")).GetString()), "Update");
		messages.push_back(Text(data->GetProperty(VString("message")).GetString()));
	}
	EXPECT_EQ(messages, (std::vector<std::string>{"Inner", "Outer", "Left open"}));
}

// Keeps the message of every session it is handed.
class MessageCollector : public IProgressInfoCollector
{
public:
	std::vector<std::string> fMessages;

	void CollectInfo(VProgressIndicator&, const VProgressIndicatorInfo& session) override
	{
		VString message;
		session.GetMessage(message);
		fMessages.push_back(Text(message));
	}
};

TEST(VProgressIndicator, CollectorsReceiveTheSessionsTheyWereGiven)
{
	MessageCollector outer;
	MessageCollector inner;
	MessageCollector swapped;
	VProgressIndicator indicator;
	indicator.BeginSession(10, VString("Outer"), &outer);
	indicator.BeginUndeterminedSession(VString("Inner"), true, &inner);
	indicator.BeginSession(5, VString("Innermost"));
	IProgressInfoCollector* previous = &swapped;
	indicator.SetProgressInfoCollector(&swapped, &previous);
	EXPECT_EQ(previous, nullptr);
	indicator.EndSession();
	indicator.EndSession();
	indicator.EndSession();
	indicator.EndSession();
	EXPECT_EQ(outer.fMessages, std::vector<std::string>{"Outer"});
	EXPECT_EQ(inner.fMessages, std::vector<std::string>{"Inner"});
	EXPECT_EQ(swapped.fMessages, std::vector<std::string>{"Innermost"});

	// Without an open session nothing is installed.
	indicator.SetProgressInfoCollector(&swapped, &previous);
	EXPECT_EQ(previous, nullptr);
	indicator.BeginSession(1, VString("Later"));
	indicator.EndSession();
	EXPECT_EQ(swapped.fMessages.size(), 1u);
	EXPECT_EQ(VProgressManager::CreateStdProgress(0, 0), nullptr);
}

TEST(VProgressIndicator, RemoteInfoInTheStreamsByteOrder)
{
	for (bool bigEndian : {false, true})
	{
		SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
		VProgressIndicator indicator;
		indicator.BeginSession(3, VString("One"));  // session version 1
		VPtrStream stream;
		if (bigEndian)
			stream.SetBigEndian();
		ASSERT_EQ(stream.OpenWriting(), VE_OK);
		ASSERT_EQ(indicator.WriteInfoForRemote(stream), VE_OK);
		ASSERT_EQ(stream.CloseWriting(), VE_OK);
		const VStreamUnderlyingData data = stream.GetUnderlyingData();
		ASSERT_EQ(data.fSize, 2 + 16 + 4);
		const uint8* bytes = static_cast<const uint8*>(data.fData);
		EXPECT_EQ(bytes[0], bigEndian ? 0 : 1);
		EXPECT_EQ(bytes[1], bigEndian ? 1 : 0);
		EXPECT_EQ(std::memcmp(bytes + 2, indicator.GetUUID().GetBuffer().fBytes, 16), 0);
		const uint8 version[4] = {uint8(bigEndian ? 0 : 1), 0, 0, uint8(bigEndian ? 1 : 0)};
		EXPECT_EQ(std::memcmp(bytes + 18, version, 4), 0);
		indicator.EndSession();
	}
}

}  // namespace
}  // namespace velk
