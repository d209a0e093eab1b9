#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "common/VTestEnvironment.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "platform/MainBundle.h"
#include "runtime/VProcess.h"

namespace velk {

namespace {

std::string PosixOf(const VFilePath& path)
{
	VString text;
	path.GetPosixPath(text);
	return to_string(text);
}

std::string FolderOf(OsType kind)
{
	VRefPtr<VFolder> folder(VProcess::sInstance->RetainFolder(kind), true);
	return folder ? PosixOf(folder->GetPath()) : std::string("(null)");
}

// A second process object with its own bundle values, which leaves the test environment's in charge.
class StSideProcess
{
public:
	StSideProcess(const char* name, const char* version) : fSaved(VProcess::sInstance)
	{
		plat::SetMainBundleInfoStringForTesting("CFBundleName", std::string(name));
		plat::SetMainBundleInfoStringForTesting("CFBundleShortVersionString", std::string(version));
		fProcess = new VProcess;
		plat::ClearMainBundleOverridesForTesting();
		VProcess::sInstance = fSaved;
	}
	~StSideProcess() { delete fProcess; }
	VProcess* operator->() const { return fProcess; }

private:
	VProcess* fSaved;
	VProcess* fProcess;
};

}  // namespace

// The instance is the object that was initialised: a process object only made and destroyed is never it.
TEST(VProcess, OnlyInitMakesTheInstance)
{
	VProcess* running = VProcess::sInstance;
	ASSERT_NE(running, nullptr);
	{
		VProcess other;
		EXPECT_EQ(VProcess::sInstance, running);
	}
	EXPECT_EQ(VProcess::sInstance, running);
}

// Every folder kind hangs from the executable's folder; other kinds have no folder.
TEST(VProcess, FoldersByKind)
{
	char executable[4096] = {};
	ASSERT_GT(readlink("/proc/self/exe", executable, sizeof(executable) - 1), 0);
	const std::filesystem::path exec = std::filesystem::path(executable).parent_path();
	const std::string contents = exec.parent_path().string() + "/";
	const std::string resources = contents + "Resources/";
	struct Case
	{
		OsType fKind;
		std::string fPath;
	};
	const Case cases[] = {
		{FourCharCode("EXEC"), exec.string() + "/"},
		{FourCharCode("PLST"), contents},
		{FourCharCode("BNDL"), exec.parent_path().parent_path().string() + "/"},
		{FourCharCode("RSRC"), resources},
		{FourCharCode("NCMP"), contents + "Native Components/"},
		{FourCharCode("DTDs"), resources + "DTD/"},
		{FourCharCode("XSDs"), resources + "XSD/"},
		{FourCharCode("XSLs"), resources + "XSL/"},
		{FourCharCode("JSNs"), resources + "JSONSchemas/"},
		{FourCharCode("rsrc"), "(null)"},
		{FourCharCode("TEMP"), "(null)"},
	};
	for (const Case& c : cases)
	{
		EXPECT_EQ(FolderOf(c.fKind), c.fPath) << c.fKind;
	}
	EXPECT_EQ(PosixOf(VProcess::sInstance->GetExecutableFilePath()), std::string(executable));
	EXPECT_EQ(PosixOf(VProcess::sInstance->GetExecutableFolderPath()), exec.string() + "/");
}

// A file is looked for in its kind's folder, then in the fallback's.
TEST(VProcess, FilesByKindWithFallback)
{
	char executable[4096] = {};
	ASSERT_GT(readlink("/proc/self/exe", executable, sizeof(executable) - 1), 0);
	const VString name(std::filesystem::path(executable).filename().c_str());
	struct Case
	{
		OsType fKind;
		const char* fName;
		OsType fFallback;
		bool fFound;
	};
	const Case cases[] = {
		{kPROCESS_FOLDER_EXECUTABLE, nullptr, 0, true},
		{kPROCESS_FOLDER_RESOURCES, nullptr, 0, false},
		{kPROCESS_FOLDER_RESOURCES, nullptr, kPROCESS_FOLDER_EXECUTABLE, true},
		{kPROCESS_FOLDER_EXECUTABLE, "no such file", kPROCESS_FOLDER_EXECUTABLE, false},
		{FourCharCode("none"), nullptr, kPROCESS_FOLDER_EXECUTABLE, true},
	};
	for (const Case& c : cases)
	{
		VRefPtr<VFile> file(VProcess::sInstance->RetainFile(c.fKind, c.fName != nullptr ? VString(c.fName) : name, c.fFallback), true);
		EXPECT_EQ(bool(file), c.fFound) << c.fName;
		if (file)
		{
			EXPECT_EQ(PosixOf(file->GetPath()), std::string(executable));
		}
	}
}

// The version text's parts: short, main, build and change list.
TEST(VProcess, VersionParts)
{
	struct Case
	{
		const char* fVersion;
		const char* fShort;
		const char* fMain;
		const char* fBuild;
		int32 fChangeList;
	};
	const Case cases[] = {
		{"1.2.3 build 4.567", "1.2.3", "1", "4.567", 567},
		{" 20.1 ", "20.1", "20", "", 0},
		{"7", "7", "7", "", 0},
		{"3.0 build 12", "3.0", "3", "12", 0},
		{"build 9.10x", "", "", "9.10x", 10},
		{"", "", "", "", 0},
	};
	for (const Case& c : cases)
	{
		StSideProcess process("Probe", c.fVersion);
		EXPECT_EQ(to_string(process->GetProductVersion()), c.fVersion);
		EXPECT_EQ(to_string(process->GetShortProductVersion()), c.fShort) << c.fVersion;
		EXPECT_EQ(to_string(process->GetMainProductVersion()), c.fMain) << c.fVersion;
		EXPECT_EQ(to_string(process->GetBuildNumber()), c.fBuild) << c.fVersion;
		EXPECT_EQ(process->GetChangeListNumber(), c.fChangeList) << c.fVersion;
		EXPECT_EQ(to_string(process->GetLogSourceIdentifier()), "Probe");
	}
}

class VProcessSystemFolderTest : public test::VTemporaryFolderTest
{
protected:
	void SetUp() override
	{
		VTemporaryFolderTest::SetUp();
		const char* cache = getenv("XDG_CACHE_HOME");
		fSavedCache = cache != nullptr ? std::optional<std::string>(cache) : std::nullopt;
		setenv("XDG_CACHE_HOME", (fRoot + "cache").c_str(), 1);
	}
	void TearDown() override
	{
		if (fSavedCache)
			setenv("XDG_CACHE_HOME", fSavedCache->c_str(), 1);
		else
			unsetenv("XDG_CACHE_HOME");
		VTemporaryFolderTest::TearDown();
	}
	std::optional<std::string> fSavedCache;
};

// The product's subfolder of a per-product system folder: absent unless made, made on demand, or the
// folder an alias of that name points to; the desktop holds no per-product folders.
TEST_F(VProcessSystemFolderTest, ProductSubfolders)
{
	StSideProcess process("Product", "1.0");
	std::filesystem::create_directories(fRoot + "cache");
	std::filesystem::create_directories(fRoot + "elsewhere");
	auto retain = [&](int32 kind, bool create) {
		VRefPtr<VFolder> folder(process->RetainProductSystemFolder(kind, create), true);
		return folder ? PosixOf(folder->GetPath()) : std::string("(null)");
	};
	EXPECT_EQ(retain(11, false), "(null)");
	EXPECT_EQ(retain(11, true), fRoot + "cache/Product/");
	EXPECT_TRUE(std::filesystem::is_directory(fRoot + "cache/Product"));
	EXPECT_EQ(retain(11, false), fRoot + "cache/Product/");

	std::filesystem::remove(fRoot + "cache/Product");
	std::filesystem::create_directory_symlink(fRoot + "elsewhere", fRoot + "cache/Product");
	EXPECT_EQ(retain(11, false), fRoot + "elsewhere/");

	VRefPtr<VFolder> desktop(VFolder::RetainSystemFolder(8, false), true);
	ASSERT_TRUE(desktop);
	EXPECT_EQ(retain(8, false), PosixOf(desktop->GetPath()));
}

TEST(VProcess, ProcessIdentity)
{
	EXPECT_EQ(VProcess::GetSystemID(), int32(getpid()));
	EXPECT_TRUE(VProcess::IsProcessRunning(VProcess::GetSystemID()));
	const pid_t child = fork();
	if (child == 0)
		_exit(0);
	ASSERT_GT(child, 0);
	ASSERT_EQ(waitpid(child, nullptr, 0), child);
	EXPECT_FALSE(VProcess::IsProcessRunning(int32(child)));
}

}  // namespace velk
