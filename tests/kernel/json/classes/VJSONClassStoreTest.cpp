#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/VTemporaryFolderTest.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

using FileMap = std::unordered_map<VString, VRefPtr<IFile>, hasher_VString::hash, hasher_VString::equal_to>;

VJSONClass* ClassOf(const VRefPtr<VJSONObject>& classObject)
{
	return classObject ? static_cast<VJSONClass*>(classObject->GetImplementation()) : nullptr;
}

// Lookups by name and identifier, visibility, components and class identifiers matched along the chain.
TEST(VJSONClassStore, LookupsAndIdentifiers)
{
	VTask::FlushErrors();
	VRefPtr<VJSONClassStore> store(new VJSONClassStore(VString("app")), true);
	VRefPtr<VJSONClassStore> component(new VJSONClassStore(VString("kit")), true);
	store->AddComponentClassStore(VString("kit"), component.Get());
	VRefPtr<VJSONObject> visible = store->AddClass(VString("Visible"), {}, nullptr, nullptr, &VJSONClass::GenericInstantiator, 0);
	VRefPtr<VJSONObject> single = store->AddClass(VString("Single"), {}, nullptr, nullptr, &VJSONClass::SharedObjectInstantiator, 0x60);
	VRefPtr<VJSONObject> hidden(VJSONClass::Create(VString("Hidden"), nullptr, nullptr, VString("app"), 0), true);
	store->AddClass(hidden.Get(), VJSONClassStore::kHidden);
	VRefPtr<VJSONObject> tool = component->AddClass(VString("Tool"), {}, visible.Get(), nullptr, &VJSONClass::GenericInstantiator, 0);
	VRefPtr<VJSONObject> kitSingle = component->AddClass(VString("KitSingle"), {}, nullptr, nullptr, nullptr, 0x60);
	VJSONObject* processObject = VProcess::sInstance->GetClassStore()->GetRootObjectClass();

	struct Row
	{
		const char* id;
		VJSONObject* found;  // GetClassObjectFromID
		bool toolMatches;  // MatchClassID on Tool
	};
	const Row rows[] = {
		{"Visible", visible.Get(), true},
		{"Hidden", hidden.Get(), false},
		{"RY.Object", processObject, true},
		{"cs.Visible", visible.Get(), true},
		{"cs.kit.Tool", tool.Get(), true},
		{"kit.Tool", tool.Get(), true},
		{"kit.Missing", nullptr, false},
		{"nowhere.Tool", nullptr, false},
		{"", nullptr, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.id);
		EXPECT_EQ(VJSONClass::GetClassObjectFromID(store.Get(), VString(row.id)).Get(), row.found);
		EXPECT_EQ(ClassOf(tool)->MatchClassID(store.Get(), VString(row.id)), row.toolMatches);
	}
	// Case: ASCII letters folded only on request; hidden classes found, not listed.
	EXPECT_EQ(VProcess::sInstance->GetClassStore()->GetClassObject(VString("object"), true).Get(), processObject);
	EXPECT_FALSE(VProcess::sInstance->GetClassStore()->GetClassObject(VString("object"), false));
	EXPECT_FALSE(store->GetVisibleClassObject(VString("Hidden"), false));
	VRefPtr<VJSONObject> storeObject(new VJSONObject(nullptr, store.Get(), false), true);
	EXPECT_EQ(storeObject->GetProperty(VString("Hidden")).GetObject(), hidden.Get());
	std::vector<VString> names;
	store->IJSON_GetPropertyNames(names);
	EXPECT_EQ(names.size(), 2u);
	// A component read twice gives two wrappers over the same store.
	VJSONValue first = storeObject->GetProperty(VString("kit"));
	VJSONValue second = storeObject->GetProperty(VString("kit"));
	ASSERT_NE(first.GetObject(), nullptr);
	EXPECT_NE(first.GetObject(), second.GetObject());
	EXPECT_EQ(first.GetObject()->GetImplementation(), second.GetObject()->GetImplementation());
	EXPECT_FALSE(storeObject->SetProperty(VString("Visible"), VJSONValue(1.0)));
	EXPECT_EQ(VTask::GetLastError(), VE_JSON_STORE_READ_ONLY);
	VTask::FlushErrors();

	std::vector<VString> singletons;
	store->GetPublicSharedSingletonIdentifiers(singletons, VString("cs."));
	ASSERT_EQ(singletons.size(), 2u);
	EXPECT_TRUE(singletons[0].EqualToStringRaw(VString("cs.Single")));
	EXPECT_TRUE(singletons[1].EqualToStringRaw(VString("kit.KitSingle")));

	// A class of the same name replaces the earlier one in both maps.
	VRefPtr<VJSONObject> replacement = store->AddClass(VString("Visible"), {}, nullptr, nullptr, nullptr, 0);
	EXPECT_EQ(store->GetVisibleClassObject(VString("Visible"), false).Get(), replacement.Get());
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
	store->RemoveComponentClassStores();
}

class VJSONClassFileTest : public test::VTemporaryFolderTest
{
protected:
	// Moves the file's modification time by seconds.
	void MoveTime(const std::string& name, int seconds)
	{
		struct stat status;
		ASSERT_EQ(stat((fRoot + name).c_str(), &status), 0);
		struct timespec times[2] = {status.st_atim, status.st_mtim};
		times[1].tv_sec += seconds;
		ASSERT_EQ(utimensat(AT_FDCWD, (fRoot + name).c_str(), times, 0), 0);
	}
};

// A class is obsolete once its file is newer or gone, and so is every subclass of it; the store takes
// such classes out.
TEST_F(VJSONClassFileTest, ObsoleteAfterTheFileChanges)
{
	VRefPtr<VFile> baseFile = Write("base.js", "base");
	VRefPtr<VFile> leafFile = Write("leaf.js", "leaf");
	VRefPtr<VJSONObject> base(VJSONClass::Create(VString("Base"), nullptr, baseFile.Get(), VString("app"), 0), true);
	VRefPtr<VJSONObject> leaf(VJSONClass::Create(VString("Leaf"), base.Get(), leafFile.Get(), VString("app"), 0), true);
	VRefPtr<VJSONObject> coded(VJSONClass::Create(VString("Coded"), nullptr, nullptr, VString("app"), 0), true);
	EXPECT_TRUE(base->GetProperty(VString("__file")).GetString().EqualToStringRaw(VString((fRoot + "base.js").c_str())));
	EXPECT_FALSE(ClassOf(base)->IsObsolete());
	EXPECT_FALSE(ClassOf(leaf)->IsObsolete());

	VRefPtr<VJSONClassStore> store(new VJSONClassStore(VString("app")), true);
	for (VJSONObject* classObject : {base.Get(), leaf.Get(), coded.Get()})
		store->AddClass(classObject, 0);
	FileMap files;
	files[VString("Base")] = VRefPtr<IFile>(baseFile.Get());
	files[VString("Leaf")] = VRefPtr<IFile>(leafFile.Get());
	std::vector<VString> removed;
	store->RemoveObsoleteClasses(files, removed);
	EXPECT_TRUE(removed.empty());
	EXPECT_EQ(store->GetCount(), 3u);

	MoveTime("base.js", 100);
	EXPECT_TRUE(ClassOf(base)->IsObsolete());
	EXPECT_TRUE(ClassOf(leaf)->IsObsolete());
	// A class in code that a file now defines goes too, without being reported.
	files[VString("Coded")] = VRefPtr<IFile>(baseFile.Get());
	store->RemoveObsoleteClasses(files, removed);
	EXPECT_EQ(store->GetCount(), 0u);
	EXPECT_EQ(removed.size(), 2u);

	// A deleted file makes its class obsolete, with no error left behind.
	VRefPtr<VJSONObject> again(VJSONClass::Create(VString("Leaf"), nullptr, leafFile.Get(), VString("app"), 0), true);
	EXPECT_FALSE(ClassOf(again)->IsObsolete());
	std::filesystem::remove(fRoot + "leaf.js");
	EXPECT_TRUE(ClassOf(again)->IsObsolete());
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

}  // namespace
}  // namespace velk
