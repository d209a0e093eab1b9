// Which activity records are kept, how they are handed out, and what a reset drops.
#include <gtest/gtest.h>

#include "kernel/json/VJSONValue.h"
#include "runtime/VMetricsManager.h"

namespace velk {
namespace {

TEST(VMetricsManagerTest, KeptRecordsAndTheirJSON)
{
	VMetricsManager metrics;
	VRefPtr<VJSONObject> data(new VJSONObject(nullptr, nullptr, false), true);
	data->SetProperty(VString("title"), VJSONValue(VString("copy")));

	struct Row
	{
		EMetricsKind kind;
		unsigned long long duration;
		bool kept;
	};
	const Row rows[] = {
		{2, 1500, true},
		{3, 1500, false},  // not in the mask
		{2, 99, false},	   // shorter than the minimum
		{2, 100, true},
		{32, 1500, false},  // no such kind
	};
	EXPECT_FALSE(metrics.Push(2, 1500, nullptr));  // collection is off
	metrics.Start(100, 4);
	for (const Row& row : rows)
		EXPECT_EQ(metrics.Push(row.kind, row.duration, row.duration == 100 ? data.Get() : nullptr), row.kept) << row.kind;

	VRefPtr<VJSONArray> collected = metrics.Collect();
	ASSERT_TRUE(collected);
	ASSERT_EQ(collected->GetCount(), 2u);
	VJSONObject* first = collected->GetAt(0).GetObject();
	EXPECT_EQ(first->GetProperty(VMetricsManager::sActivityKindKey).GetNumber(), 4);
	EXPECT_EQ(first->GetProperty(VMetricsManager::sActivityDurationKey).GetNumber(), 1.5);
	EXPECT_FALSE(first->HasProperty(VMetricsManager::sActivityDataKey));
	VJSONObject* copied = collected->GetAt(1).GetObject()->GetProperty(VMetricsManager::sActivityDataKey).GetObject();
	ASSERT_NE(copied, nullptr);
	EXPECT_NE(copied, data.Get());  // a deep copy
	EXPECT_EQ(to_string(copied->GetProperty(VString("title")).GetString()), "copy");
	EXPECT_EQ(metrics.Collect()->GetCount(), 2u);  // the records stay

	metrics.Reset();
	EXPECT_EQ(metrics.GetKindMask(), 0u);
	EXPECT_FALSE(metrics.Push(2, 1500, nullptr));
	EXPECT_EQ(metrics.Collect()->GetCount(), 0u);
	metrics.Start(0, 4);
	EXPECT_TRUE(metrics.Push(2, 0, nullptr));
}

}  // namespace
}  // namespace velk
