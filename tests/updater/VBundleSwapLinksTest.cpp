// The swap called on its own refuses bundles that are one folder, or one inside the other, however links
// lead to them, before anything moves: the check is on the folders, not on the path texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFolder.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "updater/VBundleSwap.h"
#include "updater/VUpdaterErrors.h"

namespace velk {
namespace {

namespace fs = std::filesystem;

class VBundleSwapLinksTest : public test::VTemporaryFolderTest
{
protected:
	VFolder Folder(const std::string& name) const { return VFolder(VFilePath(VString((fRoot + name + "/").c_str()), FPS_POSIX)); }

	std::vector<std::string> Names() const
	{
		std::vector<std::string> names;
		for (auto it = fs::recursive_directory_iterator(fRoot); it != fs::recursive_directory_iterator(); ++it)
			names.push_back(it->path().lexically_relative(fRoot).string());
		std::sort(names.begin(), names.end());
		return names;
	}
};

TEST_F(VBundleSwapLinksTest, SameOrNestedThroughLinksIsRefused)
{
	struct Row
	{
		const char* name;
		const char* outdated;
		const char* upToDate;
	};
	const Row rows[] = {
		{"the same folder through a link", "Name.app", "Link.app"},
		{"the outdated bundle through a link", "Link.app", "Name.app"},
		{"inside, through a link", "Name.app", "Inner.app"},
		{"inside, through a linked ancestor", "Name.app", "Contents/PlugIns/New.app"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		fs::remove_all(fRoot);
		fs::create_directories(fRoot + "Name.app/Contents/PlugIns/New.app/Contents");
		std::ofstream(fRoot + "Name.app/Contents/Info.plist") << "<plist>old</plist>";
		fs::create_directory_symlink("Name.app", fRoot + "Link.app");
		fs::create_directory_symlink("Name.app/Contents/PlugIns/New.app", fRoot + "Inner.app");
		fs::create_directory_symlink("Name.app/Contents", fRoot + "Contents");
		const std::vector<std::string> before = Names();

		StErrorContextInstaller errors(false, true);
		VFolder* old = _SwapApplications(Folder(row.outdated), Folder(row.upToDate), Folder(row.outdated));
		EXPECT_EQ(old, nullptr);
		ASSERT_EQ(errors.GetContext()->GetErrorCount(), 1u);
		const VErrorBase* error = errors.GetLast();
		ASSERT_NE(error, nullptr);
		EXPECT_EQ(error->GetCode(), VE_UPDATER_SAME_OR_NESTED_APPS);
		VString path;
		EXPECT_TRUE(error->GetString(VString("path"), path));
		EXPECT_EQ(to_string(path), fRoot + row.outdated + "/");
		EXPECT_EQ(Names(), before);
	}
}

}  // namespace
}  // namespace velk
