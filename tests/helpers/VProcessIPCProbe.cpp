// A command-line program on the default run loop, for the tests of the process frame: prints its
// arguments, says when it runs, and logs without pause when asked to, until a signal ends the run.
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>

#include "runtime/ILogger.h"
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
		return 0;
	}

	void DoRun() override
	{
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
	velk::VString fMode;
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
