#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/VChildProcess.h"
#include "common/VTemporaryFolderTest.h"
#include "platform/MainBundle.h"

namespace velk::test {

namespace {

#ifdef VELK_OPENER_FILE
const std::string kOpener = VELK_OPENER_FILE;
#else
const std::string kOpener = std::string(VELK_UPDATER_BUNDLE) + "/Contents/MacOS/opener";
#endif

// What the started program wrote about itself: "key value" lines, arguments in order.
struct Record
{
	std::map<std::string, std::string> fValues;
	std::vector<std::string> fStandardStreams;
	std::vector<std::string> fArguments;
};

Record ParseRecord(const std::string& text)
{
	Record record;
	std::istringstream lines(text);
	std::string line;
	while (std::getline(lines, line))
	{
		const size_t space = line.find(' ');
		const std::string key = line.substr(0, space);
		const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
		if (key == "standard")
			record.fStandardStreams.push_back(value);
		else if (key == "argument")
			record.fArguments.push_back(value);
		else
			record.fValues[key] = value;
	}
	return record;
}

// Bit of a signal in the masks of /proc/<pid>/status.
bool HasSignal(const std::string& hexMask, int signalNumber)
{
	return ((std::stoull(hexMask, nullptr, 16) >> (signalNumber - 1)) & 1) != 0;
}

}  // namespace

class VOpenerTest : public VTemporaryFolderTest
{
protected:
	// A bundle Contents/Info.plist naming the executable, and the executable with that body and mode (none
	// when body is empty). Answers the bundle path.
	std::string MakeBundle(const std::string& name, const std::string& executable, const std::string& body,
		mode_t mode) const
	{
		const std::string bundle = fRoot + name;
		std::filesystem::create_directories(bundle + "/Contents/MacOS");
		EXPECT_TRUE(plat::WriteInfoDictionaryStringsForTesting(bundle + "/Contents/Info.plist",
			{{"CFBundleExecutable", executable}, {"CFBundleName", "Probe"}}, false));
		if (!body.empty())
		{
			const std::string path = bundle + "/Contents/MacOS/" + executable;
			std::ofstream(path) << body;
			EXPECT_EQ(::chmod(path.c_str(), mode), 0);
		}
		return bundle;
	}
};

TEST_F(VOpenerTest, RefusesWhatItCannotStart)
{
	const std::string noExecutable = MakeBundle("Empty.app", "Empty", "", 0);
	const std::string notRunnable = MakeBundle("Plain.app", "Plain", "#!/bin/sh\nexit 0\n", 0644);
	const std::string noInterpreter = MakeBundle("Orphan.app", "Orphan", "#!/nonexistent/shell\n", 0755);
	const std::string noFormat = MakeBundle("Text.app", "Text", "neither a program nor a script\n", 0755);
	Write("file.app", "not a folder");

	// 126 says that the bundle is at fault: it has no executable, or the system could not execute it; 1 any
	// other reason.
	struct Row
	{
		const char* name;
		std::vector<std::string> arguments;
		std::string message;
		int exitCode;
	};
	const Row rows[] = {
		{"no arguments", {}, "usage: opener -a", 1},
		{"no bundle", {"-a"}, "usage: opener -a", 1},
		{"another option", {"-b", noExecutable}, "usage: opener -a", 1},
		{"arguments without --args", {"-a", notRunnable, "extra"}, "usage: opener -a", 1},
		{"missing bundle", {"-a", fRoot + "Missing.app", "--args", "x"},
			"cannot open the application bundle " + fRoot + "Missing.app: No such file or directory", 1},
		{"a file for a bundle", {"-a", fRoot + "file.app"}, "Not a directory", 1},
		{"no executable", {"-a", noExecutable}, "the application bundle " + noExecutable + " has no executable", 126},
		{"executable not runnable", {"-a", notRunnable + "/"},
			"cannot execute " + notRunnable + "/Contents/MacOS/Plain: Permission denied", 126},
		{"interpreter missing", {"-a", noInterpreter},
			"cannot execute " + noInterpreter + "/Contents/MacOS/Orphan: No such file or directory", 126},
		{"neither program nor script", {"-a", noFormat},
			"cannot execute " + noFormat + "/Contents/MacOS/Text: Exec format error", 126},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		const VChildRun run = RunChild(kOpener, row.arguments);
		ASSERT_TRUE(WIFEXITED(run.fStatus)) << run.fStatus;
		EXPECT_EQ(WEXITSTATUS(run.fStatus), row.exitCode);
		EXPECT_NE(run.fErrors.find(row.message), std::string::npos) << run.fErrors;
		EXPECT_EQ(run.fOutput, "");
	}
}

TEST_F(VOpenerTest, StartsTheExecutableDetached)
{
	// The facts are gathered before any redirection, which would give the shell descriptors of its own; ls
	// lists its own descriptors, inherited from the script, plus the one it reads the list through. bash,
	// unlike dash, keeps the signal mask it was started with.
	const std::string record = fRoot + "record";
	const std::string bundle = MakeBundle("Good Probe.app", "Probe",
		"#!/bin/bash\n"
		"descriptors=$(ls /proc/self/fd | tr '\\n' ' ')\n"
		"streams=$(for fd in 0 1 2; do echo \"standard $(readlink /proc/$$/fd/$fd)\"; done)\n"
		"{\n"
		"  echo \"pid $$\"\n"
		"  echo \"session $(cut -d' ' -f6 /proc/$$/stat)\"\n"
		"  echo \"parent $PPID\"\n"
		"  echo \"descriptors $descriptors\"\n"
		"  echo \"$streams\"\n"
		"  echo \"folder $(pwd -P)\"\n"
		"  sed -n -e 's/^SigBlk:[[:space:]]*/blocked /p' -e 's/^SigIgn:[[:space:]]*/ignored /p' /proc/$$/status\n"
		"  for argument in \"$@\"; do echo \"argument $argument\"; done\n"
		"} > '" + record + ".part'\n"
		"mv '" + record + ".part' '" + record + "'\n",
		0755);
	const std::vector<std::string> arguments = {"/path/with spaces/Link File.Rylink", "say \"hi\" 'there'", "",
		"--headless", "*"};

	// What a careless start would hand on: an ignored and a blocked signal, a descriptor without
	// close-on-exec.
	const int leaked = ::open("/dev/zero", O_RDONLY);
	ASSERT_GE(leaked, 3);
	struct sigaction ignore {};
	struct sigaction previousAction {};
	ignore.sa_handler = SIG_IGN;
	ASSERT_EQ(::sigaction(SIGUSR1, &ignore, &previousAction), 0);
	sigset_t blocked;
	sigset_t previousMask;
	::sigemptyset(&blocked);
	::sigaddset(&blocked, SIGUSR2);
	ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);

	std::vector<std::string> openerArguments = {"-a", bundle + "/", "--args"};
	openerArguments.insert(openerArguments.end(), arguments.begin(), arguments.end());
	VChildProcess opener(kOpener, openerArguments);
	const bool started = opener.Start();
	::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
	::sigaction(SIGUSR1, &previousAction, nullptr);
	::close(leaked);
	ASSERT_TRUE(started);
	const pid_t openerPid = opener.GetPid();
	const int status = opener.Wait(60000);
	ASSERT_TRUE(WIFEXITED(status)) << status;
	EXPECT_EQ(WEXITSTATUS(status), 0) << opener.GetErrors();
	EXPECT_EQ(opener.GetErrors(), "");

	// The program runs on its own: only its record says it ran (bound against a hang only).
	for (int i = 0; i < 600 && !std::filesystem::exists(record); ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
	const Record facts = ParseRecord(Read("record"));
	ASSERT_FALSE(facts.fValues.empty()) << "the started program left no record";

	const pid_t pid = std::stoi(facts.fValues.at("pid"));
	const pid_t session = std::stoi(facts.fValues.at("session"));
	EXPECT_NE(session, ::getsid(0));
	// Started from the session's leader rather than being it: no terminal can become its own.
	EXPECT_NE(session, pid);
	EXPECT_NE(std::stoi(facts.fValues.at("parent")), openerPid);
	EXPECT_NE(std::stoi(facts.fValues.at("parent")), ::getpid());
	EXPECT_EQ(facts.fStandardStreams, std::vector<std::string>(3, "/dev/null"));
	EXPECT_EQ(facts.fValues.at("descriptors"), "0 1 2 3 ");
	EXPECT_EQ(facts.fValues.at("folder"), "/");
	EXPECT_FALSE(HasSignal(facts.fValues.at("ignored"), SIGUSR1));
	EXPECT_FALSE(HasSignal(facts.fValues.at("blocked"), SIGUSR2));
	EXPECT_EQ(facts.fArguments, arguments);
}

}  // namespace velk::test
