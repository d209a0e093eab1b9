// A program started by a test: its standard output and error captured, signals sent to it, its end
// awaited within a bound (a hung child is killed and reported rather than hanging the suite).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace velk::test {

class VChildProcess
{
public:
	// arguments exclude the program itself; environment entries "NAME=value" are added to the test's,
	// replacing its variables of the same name.
	VChildProcess(const std::string& program, const std::vector<std::string>& arguments,
		const std::vector<std::string>& environment = {});
	// Kills a child still running and collects it.
	~VChildProcess();

	VChildProcess(const VChildProcess&) = delete;
	VChildProcess& operator=(const VChildProcess&) = delete;

	bool Start();
	pid_t GetPid() const { return fPid; }
	// Reads until standard output holds marker (true) or milliseconds pass or both streams end (false).
	bool WaitForOutput(const std::string& marker, int milliseconds);
	void Signal(int signal) const;
	// Reads both streams to their end and collects the child: its wait status; -1 when it did not end
	// within milliseconds (it is killed then).
	int Wait(int milliseconds);

	const std::string& GetOutput() const { return fOutput; }
	const std::string& GetErrors() const { return fErrors; }

private:
	// One poll round over the open streams; false once both have ended.
	bool _ReadSome(int milliseconds);

	std::string fProgram;
	std::vector<std::string> fArguments;
	std::vector<std::string> fEnvironment;
	pid_t fPid = -1;
	int fOutputDescriptor = -1;
	int fErrorDescriptor = -1;
	std::string fOutput;
	std::string fErrors;
};

// The program's whole run: exit status (or -1), output and errors.
struct VChildRun
{
	int fStatus = -1;
	std::string fOutput;
	std::string fErrors;
};
VChildRun RunChild(const std::string& program, const std::vector<std::string>& arguments,
	const std::vector<std::string>& environment = {}, int milliseconds = 60000);

}  // namespace velk::test
