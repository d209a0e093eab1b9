// Dynamic libraries: a plain library file (its mode widened, loaded once, symbols only while loaded, the
// loader's reason on failure), an application bundle's executable and folders, and frameworks whose links
// were stored as "XSym" files: repaired, refused when too short, and kept whole when the link cannot be made.
#include "runtime/VLibrary.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "platform/MainBundle.h"
#include "platform/Rename.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorContext.h"
#include "runtime/VErrorBase.h"

namespace velk {
namespace {

namespace fs = std::filesystem;

using AnswerFunction = int (*)();

class VLibraryTest : public test::VTemporaryFolderTest
{
protected:
	void TearDown() override
	{
		plat::SetRenameBusyForTesting(0);
		VTemporaryFolderTest::TearDown();
	}

	// The test library copied to the path (relative to the folder), with mode.
	void CopyLibrary(const std::string& path, fs::perms mode = fs::perms(0755))
	{
		fs::create_directories(fs::path(fRoot + path).parent_path());
		fs::copy_file(VELK_TEST_LIBRARY_FILE, fRoot + path);
		fs::permissions(fRoot + path, mode);
	}

	VFilePath PathOf(const std::string& path) const { return VFilePath(VString((fRoot + path).c_str()), FPS_POSIX); }

	static int Answer(VLibrary& library)
	{
		auto answer = reinterpret_cast<AnswerFunction>(library.GetProcAddress(VString("VelkTestLibraryAnswer")));
		return answer != nullptr ? answer() : -1;
	}

	static std::string PosixOf(VFolder* folder)
	{
		std::string text = folder != nullptr ? to_string(folder->_GetPosixPath()) : std::string("<null>");
		if (folder != nullptr)
			folder->Release();
		return text;
	}
};

TEST_F(VLibraryTest, PlainLibraryFile)
{
	CopyLibrary("lib.so", fs::perms(0600));
	VRefPtr<VLibrary> library(new VLibrary(PathOf("lib.so")), true);
	EXPECT_EQ(library->GetProcAddress(VString("VelkTestLibraryAnswer")), nullptr) << "nothing before Load";
	ASSERT_TRUE(library->Load());
	EXPECT_EQ(fs::status(fRoot + "lib.so").permissions() & fs::perms(0777), fs::perms(0755)) << "r-x added for all";
	EXPECT_TRUE(library->Load()) << "a second Load answers the loaded state";
	EXPECT_EQ(Answer(*library), 42);
	EXPECT_EQ(library->RetainFolder(kBUNDLE_FOLDER), nullptr) << "a plain library has no bundle";
	EXPECT_EQ(library->RetainExecutableFile(), nullptr);
	EXPECT_EQ(library->RetainResourceFile(), nullptr);
	EXPECT_TRUE(library->IsSameFile(PathOf("lib.so")));
	EXPECT_FALSE(library->IsSameFile(PathOf("LIB.so"))) << "names differing by case are other files";
	library->Unload();
	EXPECT_FALSE(library->IsLoaded());
	EXPECT_EQ(library->GetProcAddress(VString("VelkTestLibraryAnswer")), nullptr);

	// A file that is no library: velk 1010 on its path with the loader's reason; nothing at all: no error.
	Write("text.so", "not a library");
	StErrorContextInstaller scope(false, true);
	VRefPtr<VLibrary> text(new VLibrary(PathOf("text.so")), true);
	EXPECT_FALSE(text->Load());
	VErrorBase* error = scope.GetLast();
	ASSERT_NE(error, nullptr);
	EXPECT_EQ(error->GetCode(), VE_LIBRARY_CANNOT_LOAD);
	VString reason;
	EXPECT_TRUE(error->GetString(VString("reason"), reason));
	EXPECT_FALSE(reason.IsEmpty());
	VRefPtr<VLibrary> missing(new VLibrary(PathOf("missing.so")), true);
	scope.GetContext()->Flush();
	EXPECT_FALSE(missing->Load());
	EXPECT_EQ(scope.GetLastError(), VE_OK);
}

TEST_F(VLibraryTest, ApplicationBundle)
{
	CopyLibrary("App.app/Contents/MacOS/Tool");
	ASSERT_TRUE(plat::WriteInfoDictionaryStringsForTesting(fRoot + "App.app/Contents/Info.plist",
		{{"CFBundleExecutable", "Tool"}}, true));
	VRefPtr<VLibrary> library(new VLibrary(PathOf("App.app/")), true);
	EXPECT_EQ(library->RetainFolder(kBUNDLE_RESOURCES_FOLDER), nullptr) << "nothing before Load";
	ASSERT_TRUE(library->Load());
	EXPECT_NE(library->MAC_GetBundleRef(), nullptr);
	EXPECT_EQ(Answer(*library), 42);

	const struct
	{
		BundleFolderKind fKind;
		std::string fExpected;
	} folders[] = {
		{kBUNDLE_FOLDER, fRoot + "App.app/"},
		{kBUNDLE_EXECUTABLE_FOLDER, fRoot + "App.app/Contents/MacOS/"},
		{kBUNDLE_RESOURCES_FOLDER, fRoot + "App.app/Contents/Resources/"},
		{kBUNDLE_LOCALIZED_RESOURCES_FOLDER, "<null>"},
		{kBUNDLE_PLUGINS_FOLDER, fRoot + "App.app/Contents/PlugIns/"},
		{kBUNDLE_FRAMEWORKS_FOLDER, fRoot + "App.app/Contents/Frameworks/"},
		{kBUNDLE_SUPPORT_FOLDER, fRoot + "App.app/Contents/SharedSupport/"},
		{BundleFolderKind(8), "<null>"},
	};
	for (const auto& each : folders)
		EXPECT_EQ(PosixOf(library->RetainFolder(each.fKind)), each.fExpected) << each.fKind;
	VRefPtr<VFile> executable(library->RetainExecutableFile(), true);
	ASSERT_TRUE(executable);
	EXPECT_EQ(to_string(executable->_GetPosixPath()), fRoot + "App.app/Contents/MacOS/Tool");

	// A bundle without an executable does not load, and holds nothing afterwards.
	fs::create_directories(fRoot + "Empty.app/Contents");
	StErrorContextInstaller scope(false, true);
	VRefPtr<VLibrary> empty(new VLibrary(PathOf("Empty.app/")), true);
	EXPECT_FALSE(empty->Load());
	EXPECT_EQ(scope.GetLastError(), VE_LIBRARY_CANNOT_LOAD);
	EXPECT_EQ(empty->MAC_GetBundleRef(), nullptr);
}

// A framework whose "Versions/Current" is an "XSym" file with the given text, and whose own name and
// "Resources" are "XSym" files to their places under it.
struct FrameworkCase
{
	const char* fName;
	std::string fCurrentText;
	int fBusyRenames;
	bool fLoads;
	VError fError;  // the first error raised, 0 for none
	bool fCurrentIsLink;
};

std::string LinkFile(const std::string& target, bool trailingLine = true)
{
	std::string text = "XSym\n" + std::to_string(target.size()) + "\n0123456789abcdef0123456789abcdef\n" + target;
	return trailingLine ? text + "\n" + std::string(64, ' ') : text;
}

TEST_F(VLibraryTest, FrameworkLinkRepairTable)
{
	const FrameworkCase cases[] = {
		{"four lines and padding", LinkFile("A"), 0, true, VE_OK, true},
		{"exactly four lines", LinkFile("A", false), 0, true, VE_OK, true},
		{"three lines", "XSym\n0001\n0123456789abcdef0123456789abcdef\n", 0, false, VE_LIBRARY_INVALID_LINK_FILE, false},
		{"the link cannot be made", LinkFile("A"), 1, false, MakePosixError(EBUSY), false},
	};
	int index = 0;
	for (const FrameworkCase& each : cases)
	{
		const std::string framework = "f" + std::to_string(index++) + "/Kit.framework/";
		CopyLibrary(framework + "Versions/A/Kit");
		fs::create_directories(fRoot + framework + "Versions/A/Resources");
		ASSERT_TRUE(plat::WriteInfoDictionaryStringsForTesting(fRoot + framework + "Versions/A/Resources/Info.plist",
			{{"CFBundleExecutable", "Kit"}}, false));
		Write(framework + "Versions/Current", each.fCurrentText);
		Write(framework + "Kit", LinkFile("Versions/Current/Kit"));
		Write(framework + "Resources", LinkFile("Versions/Current/Resources"));

		plat::SetRenameBusyForTesting(each.fBusyRenames);
		StErrorContextInstaller scope(false, true);
		VRefPtr<VLibrary> library(new VLibrary(PathOf(framework)), true);
		EXPECT_EQ(library->Load(), each.fLoads) << each.fName;
		plat::SetRenameBusyForTesting(0);
		const VErrorBase* first = scope.GetContext()->GetErrorCount() > 0 ? scope.GetContext()->GetErrors().front().Get() : nullptr;
		EXPECT_EQ(first != nullptr ? first->GetCode() : VE_OK, each.fError) << each.fName;

		const fs::path current = fRoot + framework + "Versions/Current";
		EXPECT_EQ(fs::is_symlink(current), each.fCurrentIsLink) << each.fName;
		if (each.fCurrentIsLink)
		{
			EXPECT_EQ(fs::read_symlink(current), "A") << each.fName;
			EXPECT_EQ(fs::read_symlink(fRoot + framework + "Kit"), "Versions/Current/Kit") << each.fName;
			EXPECT_TRUE(fs::is_directory(fRoot + framework + "Resources")) << each.fName;
			EXPECT_EQ(Answer(*library), 42) << each.fName;
		}
		else
		{
			// The link file is still there, whole: a later load can repair it.
			EXPECT_EQ(Read(framework + "Versions/Current"), each.fCurrentText) << each.fName;
			EXPECT_FALSE(fs::is_symlink(fRoot + framework + "Kit")) << each.fName;
		}
	}
}

}  // namespace
}  // namespace velk
