// The component registry: creators and libraries registered and removed, which of them makes a component,
// shared instances, requirement checks (versions, missing types, cycles, bad records and their cache), and
// the localization language chosen from ".lproj" folders.
#include "runtime/VComponentManager.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFolder.h"
#include "kernel/memory/VMemory.h"
#include "platform/MainBundle.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"

namespace velk {
namespace {

namespace fs = std::filesystem;

constexpr OsType kCreated = FourCharCode("Made");
constexpr OsType kNeedsNoRecord = FourCharCode("NeNo");
constexpr OsType kNeedsCreated = FourCharCode("NeMa");

// A component of the test program whose record is chosen by its type: kCreated version 7 without
// requirements, kNeedsNoRecord requiring the library's 'NoRc', kNeedsCreated requiring kCreated at least 7.
class VProgramComponent : public CComponent
{
public:
	VProgramComponent(OsType type, OsType signature, int tag) : fType(type), fSignature(signature), fTag(tag) {}

	uint32* NewRequirementsRecord() const override
	{
		std::vector<uint32> fields(13, 0);
		fields[kREQUIREMENTS_FORMAT] = kREQUIREMENTS_MIN_FORMAT;
		fields[kREQUIREMENTS_SIZE] = 52;
		fields[kREQUIREMENTS_VERSION] = 7;
		if (fType == kNeedsNoRecord || fType == kNeedsCreated)
		{
			fields[kREQUIREMENTS_COUNT] = 1;
			fields[11] = fType == kNeedsNoRecord ? FourCharCode("NoRc") : kCreated;
			fields[12] = fType == kNeedsNoRecord ? kREQUIREMENTS_ANY_VERSION : 7;
		}
		auto* record = static_cast<uint32*>(VMemory::NewPtr(fields.size() * sizeof(uint32), FourCharCode("test")));
		if (record != nullptr)
			std::memcpy(record, fields.data(), fields.size() * sizeof(uint32));
		return record;
	}
	OsType GetComponentType() const override { return fType; }
	OsType GetComponentSignature() const override { return fSignature; }

	const OsType fType;
	const OsType fSignature;
	const int fTag;  // which creator made it
};

CComponent* CreateOne(OsType type, OsType signature)
{
	return new VProgramComponent(type, signature, 1);
}

CComponent* CreateTwo(OsType type, OsType signature)
{
	return new VProgramComponent(type, signature, 2);
}

int TagOf(CComponent* component)
{
	auto* mine = dynamic_cast<VProgramComponent*>(component);
	return mine != nullptr ? mine->fTag : 0;
}

VFilePath PathOf(const std::string& posix)
{
	return VFilePath(VString(posix.c_str()), FPS_POSIX);
}

class VComponentManagerTest : public test::VTemporaryFolderTest
{
protected:
	void SetUp() override
	{
		VTemporaryFolderTest::SetUp();
		ASSERT_TRUE(VComponentManager::Init());
	}

	void TearDown() override
	{
		VComponentManager::DeInit();
		VTemporaryFolderTest::TearDown();
	}
};

TEST_F(VComponentManagerTest, CreatorsAndInstances)
{
	StErrorContextInstaller scope(false, true);
	EXPECT_EQ(VComponentManager::RegisterComponentCreator(kCreated, CreateOne), VE_OK);
	EXPECT_EQ(VComponentManager::RegisterComponentCreator(kCreated, CreateOne), VE_COMPONENT_ALREADY_REGISTERED);
	EXPECT_EQ(VComponentManager::RegisterComponentCreator(kCreated, CreateOne, true), VE_OK);
	EXPECT_EQ(VComponentManager::RegisterComponentCreator(kCreated, CreateTwo), VE_OK) << "another creator replaces";
	EXPECT_TRUE(VComponentManager::IsComponentAvailable(kCreated));

	CComponent* unique = VComponentManager::RetainUniqueComponent(kCreated, 0);
	EXPECT_EQ(TagOf(unique), 2);
	unique->Release();

	EXPECT_EQ(VComponentManager::UnRegisterComponentCreator(kCreated, CreateOne), VE_COMPONENT_CREATOR_MISMATCH);
	EXPECT_TRUE(VComponentManager::IsComponentAvailable(kCreated));

	// Shared instances: found by type with any signature, by type and signature otherwise.
	CComponent* first = VComponentManager::RetainComponent(kCreated, FourCharCode("sig1"));
	ASSERT_NE(first, nullptr);
	CComponent* again = VComponentManager::RetainComponent(kCreated, kCOMPONENT_ANY_SIGNATURE);
	EXPECT_EQ(again, first) << "the shared instance, not a new one";
	CComponent* other = VComponentManager::RetainComponent(kCreated, FourCharCode("sig2"));
	EXPECT_NE(other, first);
	EXPECT_EQ(first->GetRefCount(), 3) << "the registry's reference and the two handed out";
	EXPECT_EQ(VComponentManager::RegisterComponentInstance(first), VE_COMPONENT_ALREADY_REGISTERED);
	EXPECT_EQ(VComponentManager::RegisterComponentInstance(nullptr), VE_INVALID_PARAMETER);
	EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(first), VE_OK);
	EXPECT_EQ(first->GetRefCount(), 2);
	first->Release();
	again->Release();
	other->Release();

	EXPECT_EQ(VComponentManager::UnRegisterComponentCreator(kCreated, CreateTwo), VE_OK);
	EXPECT_FALSE(VComponentManager::IsComponentAvailable(kCreated));
	EXPECT_EQ(VComponentManager::RetainUniqueComponent(kCreated, 0), nullptr);
	EXPECT_EQ(scope.GetLastError(), VE_OK) << "creator registrations push nothing";

	// Before Init: registrations answer velk 1000, lookups nothing.
	VComponentManager::DeInit();
	EXPECT_EQ(VComponentManager::RegisterComponentCreator(kCreated, CreateOne), VE_COMPONENT_MANAGER_NOT_INITIALIZED);
	EXPECT_EQ(VComponentManager::RegisterComponentLibrary(PathOf(VELK_TEST_COMPONENTS_FILE)), VE_COMPONENT_MANAGER_NOT_INITIALIZED);
	EXPECT_EQ(scope.GetLastError(), VE_COMPONENT_MANAGER_NOT_INITIALIZED) << "thrown by the library registration";
	EXPECT_EQ(VComponentManager::RetainComponent(kCreated), nullptr);
	EXPECT_FALSE(VComponentManager::IsComponentAvailable(kCreated));
}

TEST_F(VComponentManagerTest, LibraryRegistration)
{
	StErrorContextInstaller scope(false, true);
	// A type served by a creator before the library declares it.
	ASSERT_EQ(VComponentManager::RegisterComponentCreator(FourCharCode("CmpA"), CreateOne), VE_OK);
	ASSERT_EQ(VComponentManager::RegisterComponentLibrary(PathOf(VELK_TEST_COMPONENTS_FILE)), VE_OK);
	EXPECT_EQ(scope.GetLastError(), VE_OK);

	void* handle = ::dlopen(VELK_TEST_COMPONENTS_FILE, RTLD_NOW | RTLD_NOLOAD);
	ASSERT_NE(handle, nullptr) << "loaded by the registration";
	auto selector = reinterpret_cast<uint32 (*)()>(::dlsym(handle, "VelkTestMainSelector"));
	auto hadLibrary = reinterpret_cast<bool (*)()>(::dlsym(handle, "VelkTestMainHadLibrary"));
	ASSERT_NE(selector, nullptr);
	EXPECT_EQ(selector(), kCOMPONENT_LIBRARY_REGISTER);
	EXPECT_TRUE(hadLibrary());
	::dlclose(handle);

	EXPECT_TRUE(VComponentManager::IsComponentAvailable(FourCharCode("Smal"))) << "the last type declared";
	CComponent* byCreator = VComponentManager::RetainUniqueComponent(FourCharCode("CmpA"), 0);
	EXPECT_EQ(TagOf(byCreator), 1) << "the creator is tried before the library";
	byCreator->Release();

	// The same file again: velk 1002 thrown and returned, the first registration intact.
	EXPECT_EQ(VComponentManager::RegisterComponentLibrary(PathOf(VELK_TEST_COMPONENTS_FILE)), VE_COMPONENT_ALREADY_REGISTERED);
	EXPECT_EQ(scope.GetLastError(), VE_COMPONENT_ALREADY_REGISTERED);
	EXPECT_TRUE(VComponentManager::IsComponentAvailable(FourCharCode("CmpB")));

	// A library without the entry points: velk 1004, nothing pushed.
	scope.GetContext()->Flush();
	EXPECT_EQ(VComponentManager::RegisterComponentLibrary(PathOf(VELK_TEST_LIBRARY_FILE)), VE_COMPONENT_LIBRARY_ENTRY_MISSING);
	EXPECT_EQ(scope.GetLastError(), VE_OK);

	// A library that cannot be loaded: velk 100 returned, a file error velk 1008 pushed.
	EXPECT_EQ(VComponentManager::RegisterComponentLibrary(PathOf(fRoot + "missing.so")), VE_MEMORY_FULL);
	EXPECT_EQ(scope.GetLastError(), VE_COMPONENT_LIBRARY_CANNOT_LOAD);

	// A shared instance made by the library leaves with it, before its code is unloaded.
	CComponent* shared = VComponentManager::RetainComponent(FourCharCode("CmpB"));
	ASSERT_NE(shared, nullptr);
	shared->Release();
	EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(PathOf(VELK_TEST_COMPONENTS_FILE)), VE_OK);
	EXPECT_EQ(::dlopen(VELK_TEST_COMPONENTS_FILE, RTLD_NOW | RTLD_NOLOAD), nullptr) << "unloaded";
	EXPECT_FALSE(VComponentManager::IsComponentAvailable(FourCharCode("CmpB")));
	EXPECT_FALSE(VComponentManager::IsComponentAvailable(FourCharCode("CmpA"))) << "its library entry went with it";
}

struct RequirementCase
{
	OsType fType;
	bool fAvailable;
};

TEST_F(VComponentManagerTest, RequirementsTable)
{
	ASSERT_EQ(VComponentManager::RegisterComponentLibrary(PathOf(VELK_TEST_COMPONENTS_FILE)), VE_OK);
	ASSERT_EQ(VComponentManager::RegisterComponentCreator(kNeedsNoRecord, CreateOne), VE_OK);
	ASSERT_EQ(VComponentManager::RegisterComponentCreator(kNeedsCreated, CreateOne), VE_OK);
	const RequirementCase cases[] = {
		{FourCharCode("CmpA"), true},
		{FourCharCode("CmpB"), true},  // 'CmpA' version 5, at least 3
		{FourCharCode("CmpC"), false},  // at least 9
		{FourCharCode("CmpD"), false},  // 'Miss' served by nobody
		{FourCharCode("CycX"), true},  // the cycle ends
		{FourCharCode("CycY"), true},
		{FourCharCode("NoRc"), false},
		{FourCharCode("BigN"), false},  // the count goes past the record
		{FourCharCode("OldF"), false},
		{FourCharCode("Smal"), false},
		{kNeedsNoRecord, false},  // 'NoRc' is checked, not skipped as still being checked
		{kNeedsCreated, false},  // kCreated is not registered yet
	};
	for (int pass = 0; pass < 2; ++pass)  // the second pass answers from the cache, or checks anew
	{
		for (const RequirementCase& each : cases)
		{
			CComponent* component = VComponentManager::RetainUniqueComponent(each.fType, 0, true);
			ASSERT_NE(component, nullptr);
			EXPECT_EQ(VComponentManager::CheckComponentRequirements(component, pass == 1), each.fAvailable) << pass;
			component->Release();
			CComponent* checked = VComponentManager::RetainUniqueComponent(each.fType, 0);
			EXPECT_EQ(checked != nullptr, each.fAvailable) << pass;
			if (checked != nullptr)
				checked->Release();
		}
	}

	// A new type resets its cache; removing a type forgets the answers that counted on it.
	ASSERT_EQ(VComponentManager::RegisterComponentCreator(kCreated, CreateTwo), VE_OK);
	VComponentManager::ResetComponentRequirements(kNeedsCreated, false);
	CComponent* needs = VComponentManager::RetainUniqueComponent(kNeedsCreated, 0);
	ASSERT_NE(needs, nullptr);
	needs->Release();
	ASSERT_EQ(VComponentManager::UnRegisterComponentType(kCreated), VE_OK);
	EXPECT_EQ(VComponentManager::RetainUniqueComponent(kNeedsCreated, 0), nullptr);
}

struct LanguageCase
{
	const char* fName;
	std::vector<std::string> fFolders;
	bool fIsBundle;
	DialectCode fWanted;
	DialectCode fExpected;
};

TEST_F(VComponentManagerTest, LocalizationLanguageTable)
{
	constexpr DialectCode kFrench = 1036;
	constexpr DialectCode kGerman = 1031;
	const LanguageCase cases[] = {
		{"wanted found", {"fr.lproj", "en.lproj"}, false, kFrench, kFrench},
		{"English when wanted is missing", {"fr.lproj", "en.lproj"}, false, kGerman, kDIALECT_US_ENGLISH},
		{"the last recognised otherwise", {"fr.lproj"}, false, kGerman, kFrench},
		{"language names", {"French.lproj", "German.lproj"}, false, kGerman, kGerman},
		{"nothing recognised", {"xx.lproj", "Images"}, false, kFrench, kDIALECT_NONE},
		{"no folders", {}, false, kFrench, kDIALECT_NONE},
		{"a bundle's resources", {"Contents/Resources/fr.lproj", "en.lproj"}, true, kGerman, kFrench},
	};
	int index = 0;
	for (const LanguageCase& each : cases)
	{
		const std::string root = fRoot + "c" + std::to_string(index++) + "/";
		fs::create_directories(root);
		for (const std::string& folder : each.fFolders)
			fs::create_directories(root + folder);
		VRefPtr<VFolder> folder(new VFolder(VString(root.c_str()), FPS_POSIX), true);
		EXPECT_EQ(VComponentManager::GetLocalizationLanguage(folder.Get(), each.fIsBundle, each.fWanted), each.fExpected)
			<< each.fName;
	}
	VRefPtr<VFolder> missing(new VFolder(VString((fRoot + "missing/").c_str()), FPS_POSIX), true);
	EXPECT_EQ(VComponentManager::GetLocalizationLanguage(missing.Get(), false, kFrench), kDIALECT_NONE);
	EXPECT_EQ(VComponentManager::GetLocalizationLanguage(nullptr, false, kFrench), kDIALECT_NONE);

	// Wanted 0: the main bundle's localization for the user's languages, else US English.
	const char* saved = std::getenv("LANGUAGE");
	const std::optional<std::string> language = saved ? std::optional<std::string>(saved) : std::nullopt;
	fs::create_directories(fRoot + "Main.app/Contents/Resources/de.lproj");
	fs::create_directories(fRoot + "Main.app/Contents/Resources/fr.lproj");
	plat::SetMainBundlePathForTesting(fRoot + "Main.app");
	VRefPtr<VFolder> any(new VFolder(VString(fRoot.c_str()), FPS_POSIX), true);
	::setenv("LANGUAGE", "it:fr_CA", 1);
	EXPECT_EQ(VComponentManager::GetLocalizationLanguage(any.Get(), false, 0), kFrench);
	plat::SetMainBundlePathForTesting(fRoot + "Bare.app");
	EXPECT_EQ(VComponentManager::GetLocalizationLanguage(any.Get(), false, 0), kDIALECT_US_ENGLISH);
	plat::ClearMainBundleOverridesForTesting();
	if (language)
		::setenv("LANGUAGE", language->c_str(), 1);
	else
		::unsetenv("LANGUAGE");
}

}  // namespace
}  // namespace velk
