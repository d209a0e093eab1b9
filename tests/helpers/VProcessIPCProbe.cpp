// A command-line program on the default run loop, for the tests of the process frame: prints its
// arguments, says when it runs, and logs without pause when asked to, until a signal ends the run. Asked
// to "filelog", it writes numbered lines through a file logger of its own, for the tests of a log file that
// two processes share.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "containers/VValueBag.h"
#include "files/VFolder.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/ILogger.h"
#include "runtime/VLog4jMsgFileLogger.h"
#include "runtime/VProcessIPC.h"
#include "runtime/VTask.h"
#include "updater/VCommandLineParser.h"

namespace {

class VProbe : public velk::VProcessIPC
{
public:
	int DoParseCommandLine(velk::VCommandLineParser& parser) override
	{
		for (const velk::VString& argument : parser.GetArguments())
		{
			std::string text;
			for (int32_t i = 1; i <= argument.GetLength(); ++i)
				text += char(argument.GetUniChar(i));
			printf("argument %s\n", text.c_str());
		}
		const auto& arguments = parser.GetArguments();
		fMode = arguments.size() > 1 ? arguments[1] : velk::VString();
		fArguments.assign(arguments.begin() + std::min<size_t>(arguments.size(), 2), arguments.end());
		return 0;
	}

	void DoRun() override
	{
		if (fMode.EqualToStringRaw(velk::VString("filelog")))
		{
			WriteFileLog();
			return;
		}
		printf("running\n");
		fflush(stdout);
		if (fMode.EqualToStringRaw(velk::VString("log")))
		{
			// The main thread keeps taking the logger's locks while signals land.
			while (IsRunning())
			{
				if (velk::ILogger* logger = GetLogger())
					logger->LogMessage(velk::EML_Information, velk::VString("busy"), velk::VString());
				velk::VTask::ExecuteMessagesWithTimeout(0, false);
			}
		}
		else
			velk::VProcessIPC::DoRun();
		if (fMode.EqualToStringRaw(velk::VString("linger")))
		{
			// Time for a second signal to arrive after the first one ended the run.
			printf("quitting\n");
			fflush(stdout);
			std::this_thread::sleep_for(std::chrono::seconds(30));
		}
		printf("stopped\n");
		fflush(stdout);
	}

private:
	// filelog <folder> <name> <tag> <count> <go file>: says "ready", waits for the go file (so that two
	// probes write at the same time), then writes count lines "<tag> <i> ..." in batches of 40 through the
	// logger's listener, and says "written".
	void WriteFileLog()
	{
		if (fArguments.size() < 5)
			return;
		const std::string go = velk::to_string(fArguments[4]);
		const int count = int(fArguments[3].GetLong());
		velk::VRefPtr<velk::VFolder> folder(new velk::VFolder(fArguments[0], velk::FPS_POSIX), true);
		velk::VLog4jMsgFileLogger logger(folder.Get(), fArguments[1]);
		logger.Start();
		if (!logger.IsStarted())
			return;
		printf("ready\n");
		fflush(stdout);
		for (int wait = 0; wait < 10000 && !std::filesystem::exists(go); ++wait)
			std::this_thread::sleep_for(std::chrono::milliseconds(1));
		const std::string padding(120, '.');
		std::vector<velk::VRefPtr<velk::VValueBag>> bags;
		std::vector<const velk::VValueBag*> batch;
		for (int i = 0; i < count; ++i)
		{
			velk::VRefPtr<velk::VValueBag> bag(new velk::VValueBag, true);
			velk::ILoggerBagKeys::source.Set(bag.Get(), fArguments[2]);
			const std::string message = velk::to_string(fArguments[2]) + " " + std::to_string(i) + " " + padding;
			velk::ILoggerBagKeys::message.Set(bag.Get(), velk::VString(message.c_str()));
			batch.push_back(bag.Get());
			bags.push_back(bag);
			if (batch.size() == 40 || i + 1 == count)
			{
				logger.GetLogListener().Put(batch);
				batch.clear();
				bags.clear();
			}
		}
		logger.Stop();
		printf("written\n");
		fflush(stdout);
	}

	velk::VString fMode;
	std::vector<velk::VString> fArguments;
};

}  // namespace

int main(int argc, char** argv)
{
	velk::VProcessIPC::SetCommandLine(argc, argv);
	VProbe probe;
	if (!probe.Init(0x10))
		return probe.GetExitCode();
	probe.Run();
	return 0;
}
