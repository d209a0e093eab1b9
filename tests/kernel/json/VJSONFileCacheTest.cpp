// The document cache keyed by file: paths compared unit by unit, replacing and removing entries.
#include <gtest/gtest.h>

#include "files/VFilePath.h"
#include "kernel/json/VJSONFileCache.h"
#include "kernel/json/VJSONValue.h"

namespace velk {
namespace {

TEST(VJSONFileCache, KeepsOneDocumentPerFileNamesDifferingInCaseApart)
{
	VJSONFileCache cache;
	const VFilePath upper(VString("/x/A.json"), FPS_POSIX);
	const VFilePath lower(VString("/x/a.json"), FPS_POSIX);
	EXPECT_TRUE(cache.GetValue(upper).IsUndefined());
	cache.SetValue(upper, VJSONValue(1.0));
	cache.SetValue(lower, VJSONValue(2.0));
	EXPECT_EQ(cache.GetValue(upper).GetNumber(), 1.0);
	EXPECT_EQ(cache.GetValue(lower).GetNumber(), 2.0);
	cache.SetValue(lower, VJSONValue(3.0));
	EXPECT_EQ(cache.GetValue(lower).GetNumber(), 3.0);
	cache.SetValue(upper, VJSONValue(JSON_undefined));
	EXPECT_TRUE(cache.GetValue(upper).IsUndefined());
	EXPECT_EQ(cache.GetValue(lower).GetNumber(), 3.0);
}

}  // namespace
}  // namespace velk
