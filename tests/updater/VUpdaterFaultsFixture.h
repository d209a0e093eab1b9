// What the tests that break the updater's test build share: fresh sample bundles whose installed tree
// carries an extended attribute, the raw log lines, and the checks made after every run: the installed
// tree whole somewhere, the place holding one whole version, and nothing of the swap left beside it.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "updater/VUpdaterRunTest.h"

namespace velk::test {

constexpr int kKilled = -1;  // an expected end by SIGKILL rather than an exit code

// The attribute set on a file of the installed bundle, which a copy or a move must keep.
constexpr const char* kAttributeFile = "Contents/Resources/ReadMe.txt";
constexpr const char* kAttributeName = "user.velk.origin";
constexpr const char* kAttributeValue = "installed 1.0";

inline std::string TestingUpdater()
{
	return std::string(VELK_UPDATER_TESTING_BUNDLE) + "/Contents/MacOS/updater";
}

inline std::string Ending(int status)
{
	if (WIFEXITED(status))
		return "exit " + std::to_string(WEXITSTATUS(status));
	if (WIFSIGNALED(status))
		return "signal " + std::to_string(WTERMSIG(status));
	return "status " + std::to_string(status);
}

// Whether a wait status is the exit code expected, or an end by SIGKILL for kKilled.
inline bool EndedAs(int status, int expected)
{
	if (expected == kKilled)
		return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
	return WIFEXITED(status) && WEXITSTATUS(status) == expected;
}

// What the application's place may hold after a run.
enum EPlace : unsigned
{
	kOldTree = 1,
	kNewTree = 2,
};

class VUpdaterFaultsFixture : public VUpdaterRunTest
{
protected:
	// Fresh sample bundles in the scene, the installed one with an extended attribute.
	void MakeScene(const std::string& scene)
	{
		VUpdaterRunTest::MakeScene(scene);
		if (HasFatalFailure())
			return;
		const std::string attributed = fOld + "/" + kAttributeFile;
		ASSERT_EQ(::lsetxattr(attributed.c_str(), kAttributeName, kAttributeValue, std::strlen(kAttributeValue), 0), 0)
			<< std::strerror(errno);
		TakeTrees();
		ASSERT_NE(fOldTree[kAttributeFile].find(kAttributeValue), std::string::npos);
	}

	// The trees of both bundles as they are now, against which a run is checked.
	void TakeTrees()
	{
		fOldTree = Tree(fOld);
		fNewTree = Tree(fNew);
	}

	// The updater's command line for this scene: the log folder, extra, then both bundles.
	std::vector<std::string> Arguments(const std::vector<std::string>& extra = {}) const
	{
		std::vector<std::string> arguments{"--log-dir", fScene + "logs"};
		arguments.insert(arguments.end(), extra.begin(), extra.end());
		arguments.push_back(fOld);
		arguments.push_back(fNew);
		return arguments;
	}

	VChildRun Run(const std::vector<std::string>& faults, const std::string& upToDate)
	{
		return RunChild(TestingUpdater(), {"--log-dir", fScene + "logs", fOld, upToDate}, Environment(faults), kRunBound);
	}

	// The places where the installed tree may be found after a run: its place, beside it under a temporary
	// name, and the Trash.
	std::vector<std::string> OldTreeCandidates() const
	{
		namespace fs = std::filesystem;
		std::vector<std::string> candidates{fOld};
		const std::string beside = fs::path(fOld).parent_path().string();
		for (const std::string& folder : {beside, fScene + "data/Trash/files"})
		{
			if (!fs::is_directory(folder))
				continue;
			for (const fs::directory_entry& entry : fs::directory_iterator(folder))
			{
				if (entry.path().filename().string().rfind("Sample_old", 0) == 0)
					candidates.push_back(entry.path().string());
			}
		}
		return candidates;
	}

	// The installed tree is whole somewhere, and the place holds one of the allowed states.
	void ExpectNothingLost(unsigned allowed)
	{
		std::string found;
		for (const std::string& candidate : OldTreeCandidates())
		{
			if (found.empty() && Tree(candidate) == fOldTree)
				found = candidate;
		}
		EXPECT_FALSE(found.empty()) << "the installed tree is nowhere whole: " << Joined(OldTreeCandidates());

		const std::map<std::string, std::string> place = Tree(fOld);
		const bool matched = ((allowed & kOldTree) != 0 && place == fOldTree) || ((allowed & kNewTree) != 0 && place == fNewTree);
		EXPECT_TRUE(matched) << "the place holds " << place.size() << " entries, allowed states " << allowed;
		// The up-to-date bundle is only ever read.
		EXPECT_EQ(Tree(fNew), fNewTree);
	}

	// What a run that completed leaves beside the application: no staging folder, no journal, no old
	// bundle (it went to the Trash) unless the relaunch failed, and no Trash record without its item.
	void ExpectNoLeftovers(bool oldAside = false)
	{
		namespace fs = std::filesystem;
		const std::string folder = fs::path(fOld).parent_path().string();
		for (const fs::directory_entry& entry : fs::directory_iterator(folder))
		{
			const std::string name = entry.path().filename().string();
			EXPECT_EQ(name.find(".velk"), std::string::npos) << name;
			EXPECT_TRUE(oldAside || name.rfind("Sample_old", 0) != 0) << name;
		}
		const std::string info = fScene + "data/Trash/info";
		if (!fs::is_directory(info))
			return;
		for (const fs::directory_entry& entry : fs::directory_iterator(info))
		{
			const std::string name = entry.path().filename().string();
			const std::string item = name.substr(0, name.size() - std::strlen(".trashinfo"));
			EXPECT_TRUE(fs::exists(fs::symlink_status(fScene + "data/Trash/files/" + item))) << "orphan " << name;
		}
	}

	// The starts of version 2.0 the record holds.
	int CountRelaunches()
	{
		const std::string record = ReadWhole(fScene + "record.txt");
		int count = 0;
		for (size_t at = record.find("version 2.0\n"); at != std::string::npos; at = record.find("version 2.0\n", at + 1))
			++count;
		return count;
	}

	std::map<std::string, std::string> fOldTree;
	std::map<std::string, std::string> fNewTree;
};

}  // namespace velk::test
