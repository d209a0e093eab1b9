// Typed bag keys and the bag loader: values stored as their value class and read back as the plain type,
// defaults for absent attributes, and loaded UUIDs kept or mapped to new ones.
#include "containers/VBagLoader.h"

#include <gtest/gtest.h>

#include "containers/StBagKey.h"
#include "containers/VValueBag.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VValueInfo.h"

namespace velk {
namespace {

enum ELevel
{
	eLevelInfo = 4,
	eLevelError = 6
};

TEST(VBagLoaderTest, TypedKeysStoreTheirValueClass)
{
	const StBagKeyNoDefault<unsigned int, VLong> count("count");
	const StBagKeyNoDefault<unsigned long long, VLong8> big("big");
	const StBagKeyNoDefault<bool, VBoolean> flag("flag");
	const StBagKeyNoDefault<const char*, const char*> label("label");
	const StBagKeyNoDefault<VString, VString> text("text");
	const StBagKeyWithDefault<ELevel, VLong> level("level", eLevelInfo);

	VValueBag* bag = new VValueBag();
	EXPECT_TRUE(count.Set(bag, 4000000000u));
	EXPECT_TRUE(big.Set(bag, 1ull << 40));
	EXPECT_TRUE(flag.Set(bag, true));
	EXPECT_TRUE(label.Set(bag, "caf\xC3\xA9"));
	EXPECT_TRUE(text.Set(bag, VString("t")));
	EXPECT_FALSE(count.Set(nullptr, 1u));

	const std::pair<const StPackedDictionaryKey*, ValueKind> kinds[] = {{&count.GetKey(), VK_LONG}, {&big.GetKey(), VK_LONG8}, {&flag.GetKey(), VK_BOOLEAN}, {&label.GetKey(), VK_STRING}, {&text.GetKey(), VK_STRING}};
	for (const auto& [key, kind] : kinds)
		EXPECT_EQ(bag->GetAttribute(*key)->GetValueInfo()->GetKind(), kind) << key->GetKey();

	unsigned int countValue = 0;
	EXPECT_TRUE(count.Get(bag, countValue));
	EXPECT_EQ(countValue, 4000000000u) << "through the 32-bit value and back";
	unsigned long long bigValue = 0;
	EXPECT_TRUE(big.Get(bag, bigValue));
	EXPECT_EQ(bigValue, 1ull << 40);
	bool flagValue = false;
	EXPECT_TRUE(flag.Get(bag, flagValue));
	EXPECT_TRUE(flagValue);
	VString labelValue;
	EXPECT_TRUE(label.Get(bag, labelValue));
	EXPECT_TRUE(labelValue.EqualToStringRaw(VString(u"caf\u00E9")));

	EXPECT_EQ(level.Get(bag), eLevelInfo) << "absent: the default";
	EXPECT_EQ(level.Get(nullptr), eLevelInfo);
	EXPECT_TRUE(level.Set(bag, eLevelError));
	EXPECT_EQ(level.Get(bag), eLevelError);
	ELevel untouched = eLevelInfo;
	const StBagKeyNoDefault<ELevel, VLong> absent("absent");
	EXPECT_FALSE(absent.Get(bag, untouched));
	EXPECT_EQ(untouched, eLevelInfo);
	bag->Release();
}

TEST(VBagLoaderTest, UUIDsAreKeptOrMappedToNewOnes)
{
	const VUUID stored(true);
	VValueBag* withUUID = new VValueBag();
	ASSERT_TRUE(VBagLoader::UUIDKey().Set(withUUID, stored));
	VValueBag* without = new VValueBag();
	VValueBag* withNull = new VValueBag();
	ASSERT_TRUE(VBagLoader::UUIDKey().Set(withNull, VUUID::sNullUUID));
	EXPECT_EQ(VBagLoader::UUIDKey().Get(without), VUUID::sNullUUID);

	VBagLoader keeping(false, false);
	VUUID uuid;
	EXPECT_TRUE(keeping.GetUUID(*withUUID, uuid));
	EXPECT_EQ(uuid, stored);
	EXPECT_FALSE(keeping.GetUUID(*without, uuid));
	EXPECT_FALSE(uuid.IsNull());
	EXPECT_NE(uuid, stored);

	VBagLoader regenerating(true, false);
	VUUID first;
	VUUID second;
	EXPECT_TRUE(regenerating.GetUUID(*withUUID, first));
	EXPECT_NE(first, stored);
	EXPECT_TRUE(regenerating.GetUUID(*withUUID, second));
	EXPECT_EQ(second, first) << "the same stored UUID maps to the same new one";
	VUUID resolved = stored;
	regenerating.ResolveUUID(resolved);
	EXPECT_EQ(resolved, first);
	VUUID unknown(true);
	const VUUID unknownBefore = unknown;
	regenerating.ResolveUUID(unknown);
	EXPECT_EQ(unknown, unknownBefore);

	VUUID fresh;
	EXPECT_FALSE(regenerating.GetUUID(*without, fresh));
	EXPECT_FALSE(fresh.IsNull());
	VUUID fromNull;
	EXPECT_TRUE(regenerating.GetUUID(*withNull, fromNull));
	EXPECT_FALSE(fromNull.IsNull()) << "a null UUID read is not mapped";

	withUUID->Release();
	without->Release();
	withNull->Release();
}

}  // namespace
}  // namespace velk
