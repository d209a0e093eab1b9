#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "kernel/strings/VString.h"
#include "runtime/mac/XMacExecutableFolder.h"

namespace velk {
namespace {

// The executable itself is a file beside the executable; a missing name or a folder is not found and
// leaves the path as it was.
TEST(XMacExecutableFolder, FindsOnlyFilesBesideTheExecutable)
{
	const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe");
	const std::string folderName = executable.parent_path().filename().string();
	struct Row
	{
		std::string name;
		bool found;
	};
	const Row rows[] = {
		{executable.filename().string(), true},
		{"no such settings file.prm", false},
		{"", false},
		{"../" + folderName, false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VString path("unchanged");
		EXPECT_EQ(XMacExecutableFolder::FindFile(row.name.c_str(), path), row.found);
		const VString expected(row.found ? executable.c_str() : "unchanged");
		EXPECT_TRUE(path.EqualToStringRaw(expected));
	}
}

}  // namespace
}  // namespace velk
