// What the tests running the updater as a program share: trees compared entry by entry, the log read back
// message by message, and a fixture that makes the sample bundles in a scene of its own (HOME and the XDG
// folders inside it, dialogs to a sink, no display) and adopts the run's orphans to collect them.
#pragma once

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/VChildProcess.h"
#include "common/VTemporaryFolderTest.h"

namespace velk::test {

constexpr int kRunBound = 120000;  // generous: only there so that a broken run fails instead of hanging

inline std::string ReadWhole(const std::string& path)
{
	std::ifstream in(path, std::ios::binary);
	std::stringstream text;
	text << in.rdbuf();
	return text.str();
}

inline long NowMilliseconds()
{
	timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	return long(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

inline std::string Joined(const std::vector<std::string>& lines)
{
	std::string text;
	for (const std::string& line : lines)
		text += line + "\n";
	return text;
}

// An entry's extended attributes, names sorted, as " {name=value}" pieces.
inline std::string Attributes(const std::string& path)
{
	std::vector<char> names(size_t(std::max<ssize_t>(::llistxattr(path.c_str(), nullptr, 0), 0)));
	const ssize_t length = names.empty() ? 0 : ::llistxattr(path.c_str(), names.data(), names.size());
	std::vector<std::string> sorted;
	for (ssize_t at = 0; at < length; at += ssize_t(std::strlen(names.data() + at)) + 1)
		sorted.emplace_back(names.data() + at);
	std::sort(sorted.begin(), sorted.end());
	std::string text;
	for (const std::string& name : sorted)
	{
		std::string value(size_t(std::max<ssize_t>(::lgetxattr(path.c_str(), name.c_str(), nullptr, 0), 0)), '\0');
		const ssize_t read = value.empty() ? 0 : ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
		value.resize(size_t(std::max<ssize_t>(read, 0)));
		text += " {" + name + "=" + value + "}";
	}
	return text;
}

// Every entry under root by relative path: its type and mode, its extended attributes, a link's target, a
// file's bytes.
inline std::map<std::string, std::string> Tree(const std::string& root)
{
	namespace fs = std::filesystem;
	std::map<std::string, std::string> entries;
	if (!fs::exists(fs::symlink_status(root)))
		return entries;
	for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
	{
		const std::string path = it->path().string();
		struct stat status;
		if (::lstat(path.c_str(), &status) != 0)
			continue;
		std::string description = std::to_string(status.st_mode) + Attributes(path);
		if (S_ISLNK(status.st_mode))
			description += " -> " + fs::read_symlink(it->path()).string();
		else if (S_ISREG(status.st_mode))
			description += " " + ReadWhole(path);
		// Lexically: fs::relative would resolve the links inside the tree, and two entries would share a key.
		entries[it->path().lexically_relative(root).string()] = description;
	}
	return entries;
}

// The raw lines of the log files of a folder, in order.
inline std::vector<std::string> LogLines(const std::string& folder)
{
	namespace fs = std::filesystem;
	std::vector<std::string> files;
	if (fs::is_directory(folder))
	{
		for (const fs::directory_entry& entry : fs::directory_iterator(folder))
			files.push_back(entry.path().string());
	}
	std::sort(files.begin(), files.end());
	std::vector<std::string> lines;
	for (const std::string& file : files)
	{
		std::istringstream text(ReadWhole(file));
		for (std::string line; std::getline(text, line);)
			lines.push_back(line);
	}
	return lines;
}

// The messages of the log files of a folder, in order: the text behind the line's " - ", without the
// extras in parentheses that end every line.
inline std::vector<std::string> LogMessages(const std::string& folder)
{
	std::vector<std::string> messages;
	for (const std::string& line : LogLines(folder))
	{
		const size_t separator = line.find(" - ");
		std::string message = separator == std::string::npos ? line : line.substr(separator + 3);
		const size_t extras = message.rfind(" (");
		if (extras != std::string::npos && message.back() == ')')
			message.erase(extras);
		messages.push_back(message);
	}
	return messages;
}

// The messages logged after the run's final line: the errors it ended with, newest first.
inline std::vector<std::string> ErrorsAfterTheEnd(const std::vector<std::string>& messages)
{
	const auto end = std::find_if(messages.begin(), messages.end(),
		[](const std::string& message) { return message.rfind("Update failed - ", 0) == 0; });
	return end == messages.end() ? std::vector<std::string>() : std::vector<std::string>(end + 1, messages.end());
}

// Whether messages hold, in that order, one message equal to (or, when containing, holding) each piece.
inline bool InOrder(const std::vector<std::string>& messages, const std::vector<std::string>& pieces, bool containing = false)
{
	auto at = messages.begin();
	for (const std::string& piece : pieces)
	{
		at = std::find_if(at, messages.end(), [&](const std::string& message)
			{ return containing ? message.find(piece) != std::string::npos : message == piece; });
		if (at == messages.end())
			return false;
		++at;
	}
	return true;
}

class VUpdaterRunTest : public VTemporaryFolderTest
{
protected:
	void SetUp() override
	{
		VTemporaryFolderTest::SetUp();
		// Orphans of the run come to the test, which collects them.
		ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
	}

	void TearDown() override
	{
		CollectOrphans();
		prctl(PR_SET_CHILD_SUBREAPER, 0);
		VTemporaryFolderTest::TearDown();
	}

	static void CollectOrphans()
	{
		while (::waitpid(-1, nullptr, WNOHANG) > 0)
		{
		}
	}

	// Fresh sample bundles in the scene (a folder ending in '/'), which also holds the home folder, the
	// XDG folders, the dialog sink and the record of the sample application's starts.
	void MakeScene(const std::string& scene)
	{
		fScene = scene;
		const VChildRun made =
			RunChild("/bin/bash", {std::string(VELK_SOURCE_DIR) + "/tools/make-sample-bundles", fScene + "samples"});
		ASSERT_TRUE(WIFEXITED(made.fStatus) && WEXITSTATUS(made.fStatus) == 0) << made.fErrors;
		fOld = fScene + "samples/v1/Sample.app";
		fNew = fScene + "samples/v2/Sample.app";
		fEnvironment = {"HOME=" + fScene + "home", "XDG_DATA_HOME=" + fScene + "data", "XDG_CONFIG_HOME=" + fScene + "config",
			"XDG_CACHE_HOME=" + fScene + "cache", "VELK_NOTIFICATION_SINK=" + fScene + "sink", "DISPLAY=", "WAYLAND_DISPLAY=",
			"SAMPLE_RECORD=" + fScene + "record.txt"};
	}

	// The scene's variables with extra entries replacing those of the same name.
	std::vector<std::string> Environment(const std::vector<std::string>& extra = {}) const
	{
		std::vector<std::string> environment;
		for (const std::string& entry : fEnvironment)
		{
			const std::string name = entry.substr(0, entry.find('=') + 1);
			if (std::none_of(extra.begin(), extra.end(), [&](const std::string& e) { return e.rfind(name, 0) == 0; }))
				environment.push_back(entry);
		}
		environment.insert(environment.end(), extra.begin(), extra.end());
		return environment;
	}

	// Waits until an adopted process has ended and collects it, with its wait status when asked.
	static bool WaitForEnd(pid_t pid, int* status = nullptr)
	{
		const long end = NowMilliseconds() + kRunBound;
		while (NowMilliseconds() < end)
		{
			if (::waitpid(pid, status, WNOHANG) == pid || ::kill(pid, 0) != 0)
				return true;
			::usleep(20000);
		}
		return false;
	}

	// The notices shown, one JSON line each, as the dialog sink received them.
	std::vector<std::string> Dialogs() const
	{
		std::vector<std::string> dialogs;
		std::istringstream lines(ReadWhole(fScene + "sink"));
		for (std::string line; std::getline(lines, line);)
			dialogs.push_back(line);
		return dialogs;
	}

	// Waits until the record file holds text (the relaunched application writes it detached).
	bool WaitForRecord(const std::string& text)
	{
		const long end = NowMilliseconds() + kRunBound;
		while (NowMilliseconds() < end)
		{
			if (ReadWhole(fScene + "record.txt").find(text) != std::string::npos)
				return true;
			CollectOrphans();
			::usleep(20000);
		}
		return false;
	}

	std::string fScene;
	std::string fOld;
	std::string fNew;
	std::vector<std::string> fEnvironment;
};

}  // namespace velk::test
