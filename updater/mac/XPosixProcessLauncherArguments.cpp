// The command-line splitting and the binary lookup of the POSIX launcher, with the table of system commands.
#include "updater/mac/XPosixProcessLauncher.h"

#include <errno.h>

#include <map>
#include <mutex>

#include "platform/ExecutableSearch.h"

namespace velk {

namespace {

// The system commands by bare name: the process's own programs, which must win over anything on PATH.
std::mutex sCommandsLock;
std::map<std::string, std::string>& Commands()
{
	static std::map<std::string, std::string> sCommands;
	return sCommands;
}

}  // namespace

size_t XPosixProcessLauncher::SplitCommandLine(const std::string& text, std::vector<std::string>& pieces)
{
	pieces.clear();
	const size_t length = text.size();
	size_t at = 0;
	while (at < length)
	{
		if (text[at] == ' ')
		{
			++at;
			continue;
		}
		std::string piece;
		const char opening = text[at];
		const bool quoted = opening == '"' || opening == '\'';
		if (quoted)
			++at;
		while (at < length)
		{
			const char unit = text[at];
			if (quoted ? unit == opening : unit == ' ')
				break;
			if (unit == '\\')
			{
				// The escaped byte is taken as it is; a backslash that ends the text is only dropped.
				if (at + 1 < length)
					piece += text[at + 1];
				at += 2;
				continue;
			}
			piece += unit;
			++at;
		}
		if (quoted && at < length)
			++at;
		pieces.push_back(std::move(piece));
	}
	return pieces.size();
}

int XPosixProcessLauncher::FindBinary(const std::string& name, const std::string& pathList, std::string& found)
{
	if (name.empty())
		return ENOENT;
	if (name.find('/') != std::string::npos)
	{
		found = name;
		return 0;
	}
	{
		std::lock_guard<std::mutex> lock(sCommandsLock);
		const auto command = Commands().find(name);
		if (command != Commands().end())
		{
			if (!plat::IsExecutableFile(command->second))
				return ENOENT;
			found = command->second;
			return 0;
		}
	}
	// Only PATH: a file of that name in the current folder is never taken for a command.
	return plat::SearchExecutable(name, pathList, found) ? 0 : ENOENT;
}

void XPosixProcessLauncher::RegisterSystemCommand(const std::string& name, const std::string& absolutePath)
{
	std::lock_guard<std::mutex> lock(sCommandsLock);
	Commands()[name] = absolutePath;
}

void XPosixProcessLauncher::UnregisterSystemCommand(const std::string& name)
{
	std::lock_guard<std::mutex> lock(sCommandsLock);
	Commands().erase(name);
}

}  // namespace velk
