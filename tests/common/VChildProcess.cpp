#include "common/VChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string_view>

extern char** environ;

namespace velk::test {

namespace {

long NowMilliseconds()
{
	timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	return long(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

VChildProcess::VChildProcess(const std::string& program, const std::vector<std::string>& arguments,
	const std::vector<std::string>& environment)
: fProgram(program), fArguments(arguments), fEnvironment(environment)
{
}

VChildProcess::~VChildProcess()
{
	if (fPid > 0)
	{
		::kill(fPid, SIGKILL);
		::waitpid(fPid, nullptr, 0);
	}
	if (fOutputDescriptor >= 0)
		::close(fOutputDescriptor);
	if (fErrorDescriptor >= 0)
		::close(fErrorDescriptor);
}

bool VChildProcess::Start()
{
	int output[2];
	int errors[2];
	if (::pipe2(output, O_CLOEXEC) != 0)
		return false;
	if (::pipe2(errors, O_CLOEXEC) != 0)
	{
		::close(output[0]);
		::close(output[1]);
		return false;
	}
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_adddup2(&actions, output[1], 1);
	posix_spawn_file_actions_adddup2(&actions, errors[1], 2);

	std::vector<char*> argv;
	argv.push_back(const_cast<char*>(fProgram.c_str()));
	for (const std::string& argument : fArguments)
		argv.push_back(const_cast<char*>(argument.c_str()));
	argv.push_back(nullptr);
	// The test's variables, save those the given entries replace.
	std::vector<char*> envp;
	for (char** entry = environ; *entry != nullptr; ++entry)
	{
		const std::string_view text(*entry);
		const std::string_view name = text.substr(0, text.find('=') + 1);
		bool replaced = false;
		for (const std::string& given : fEnvironment)
			replaced = replaced || given.compare(0, name.size(), name) == 0;
		if (!replaced)
			envp.push_back(*entry);
	}
	for (const std::string& entry : fEnvironment)
		envp.push_back(const_cast<char*>(entry.c_str()));
	envp.push_back(nullptr);

	const int result = posix_spawn(&fPid, fProgram.c_str(), &actions, nullptr, argv.data(), envp.data());
	posix_spawn_file_actions_destroy(&actions);
	::close(output[1]);
	::close(errors[1]);
	fOutputDescriptor = output[0];
	fErrorDescriptor = errors[0];
	if (result != 0)
		fPid = -1;
	return result == 0;
}

bool VChildProcess::_ReadSome(int milliseconds)
{
	pollfd descriptors[2] = {{fOutputDescriptor, POLLIN, 0}, {fErrorDescriptor, POLLIN, 0}};
	if (fOutputDescriptor < 0 && fErrorDescriptor < 0)
		return false;
	if (::poll(descriptors, 2, milliseconds) <= 0)
		return true;
	for (int i = 0; i < 2; ++i)
	{
		if (descriptors[i].fd < 0 || descriptors[i].revents == 0)
			continue;
		char buffer[4096];
		const ssize_t count = ::read(descriptors[i].fd, buffer, sizeof(buffer));
		if (count > 0)
			(i == 0 ? fOutput : fErrors).append(buffer, size_t(count));
		else
		{
			::close(descriptors[i].fd);
			(i == 0 ? fOutputDescriptor : fErrorDescriptor) = -1;
		}
	}
	return fOutputDescriptor >= 0 || fErrorDescriptor >= 0;
}

bool VChildProcess::WaitForOutput(const std::string& marker, int milliseconds)
{
	const long end = NowMilliseconds() + milliseconds;
	while (fOutput.find(marker) == std::string::npos)
	{
		const long left = end - NowMilliseconds();
		if (left <= 0 || !_ReadSome(int(left)))
			return fOutput.find(marker) != std::string::npos;
	}
	return true;
}

void VChildProcess::Signal(int signal) const
{
	if (fPid > 0)
		::kill(fPid, signal);
}

int VChildProcess::Wait(int milliseconds)
{
	const long end = NowMilliseconds() + milliseconds;
	while (NowMilliseconds() < end && _ReadSome(int(end - NowMilliseconds())))
	{
	}
	int status = 0;
	while (fPid > 0 && NowMilliseconds() < end)
	{
		if (::waitpid(fPid, &status, WNOHANG) == fPid)
		{
			fPid = -1;
			return status;
		}
		::usleep(10000);
	}
	return -1;
}

VChildRun RunChild(const std::string& program, const std::vector<std::string>& arguments,
	const std::vector<std::string>& environment, int milliseconds)
{
	VChildProcess child(program, arguments, environment);
	VChildRun run;
	if (!child.Start())
		return run;
	run.fStatus = child.Wait(milliseconds);
	run.fOutput = child.GetOutput();
	run.fErrors = child.GetErrors();
	return run;
}

}  // namespace velk::test
