// Small helpers the file benchmarks share: a program run to its end, and a fresh folder of their own in
// $TMPDIR (else /tmp).
#pragma once

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace bench {

// Runs the program (found on PATH) and answers whether it exited with 0.
inline bool RunProgram(std::vector<std::string> arguments)
{
	std::vector<char*> argv;
	for (std::string& argument : arguments)
		argv.push_back(argument.data());
	argv.push_back(nullptr);
	pid_t child = 0;
	if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
		return false;
	int status = 0;
	return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A new folder named after prefix in the temporary folder; "" when it cannot be made.
inline std::string MakeTemporaryFolder(const std::string& prefix)
{
	const char* folder = std::getenv("TMPDIR");
	std::string pattern = std::string(folder != nullptr && *folder != 0 ? folder : "/tmp") + "/" + prefix + "-XXXXXX";
	return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

}  // namespace bench
