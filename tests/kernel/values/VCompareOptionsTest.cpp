// The options of a value comparison: what a default set holds, on a task and on a thread without one, and
// the JSON form of the diacritical flag.
#include "kernel/values/VCompareOptions.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "common/VTestEnvironment.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

void ExpectDefaultFlags(const VCompareOptions& options)
{
	EXPECT_FALSE(options.IsLike());
	EXPECT_FALSE(options.IsDiacritical());
	EXPECT_FALSE(options.IsBeginsWith());
	EXPECT_DOUBLE_EQ(options.GetEpsilon(), 0.000001);
	EXPECT_EQ(options.GetUserData(), nullptr);
}

TEST(VCompareOptionsTest, DefaultsTakeTheCallersManager)
{
	const VCompareOptions options;
	ExpectDefaultFlags(options);
	EXPECT_EQ(options.GetIntlMgr(), VTask::GetCurrentIntlManager());

	// On a thread without a task the manager comes from the process, and without a process there is none.
	std::thread([] {
		const VCompareOptions onThread;
		ExpectDefaultFlags(onThread);
		EXPECT_EQ(onThread.GetIntlMgr(), VTask::GetCurrentIntlManager());
		StNoProcessInstance noProcess;
		EXPECT_EQ(VCompareOptions().GetIntlMgr(), nullptr);
	}).join();
}

// Only a JSON boolean sets the flag: any other property value, or none, leaves it as it was.
TEST(VCompareOptionsTest, DiacriticalFlagAsJSON)
{
	const VString name("diacritical");
	struct Row
	{
		const char* name;
		std::optional<VJSONValue> property;  // none: the object lacks it
		bool before;
		bool after;
	};
	const Row rows[] = {
		{"true", VJSONValue(JSON_true), false, true},
		{"false", VJSONValue(JSON_false), true, false},
		{"missing", std::nullopt, true, true},
		{"text true", VJSONValue(VString("true")), false, false},
		{"number 1", VJSONValue(1.0), false, false},
		{"null", VJSONValue(JSON_null), true, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VJSONValue object(JSON_object);
		if (row.property.has_value())
			object.SetProperty(name, *row.property);
		VCompareOptions options;
		options.SetDiacritical(row.before);
		EXPECT_EQ(options.FromJSON(object.GetObject()), VE_OK);
		EXPECT_EQ(options.IsDiacritical(), row.after);
	}

	// Written as a boolean, and read back into options that held the other value.
	for (const bool flag : {true, false})
	{
		SCOPED_TRACE(flag);
		VJSONValue object(JSON_object);
		VCompareOptions written;
		written.SetDiacritical(flag);
		EXPECT_EQ(written.ToJSON(object.GetObject()), VE_OK);
		EXPECT_EQ(object.GetProperty(name).GetType(), flag ? JSON_true : JSON_false);
		VCompareOptions read;
		read.SetDiacritical(!flag);
		EXPECT_EQ(read.FromJSON(object.GetObject()), VE_OK);
		EXPECT_EQ(read.IsDiacritical(), flag);
	}

	VCompareOptions options;
	options.SetDiacritical(true);
	EXPECT_EQ(options.ToJSON(nullptr), VE_OK);
	EXPECT_EQ(options.FromJSON(nullptr), VE_OK);
	EXPECT_TRUE(options.IsDiacritical());
}

}  // namespace
}  // namespace velk
