#include "platform/DocumentOpener.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace plat {

namespace {

bool IsSet(const char* name)
{
	const char* value = ::getenv(name);
	return value != nullptr && *value != '\0';
}

}  // namespace

bool HasDisplay()
{
	return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

bool OpenDocument(const std::string& path)
{
	if (!HasDisplay())
		return false;
	// Everything the grandchild needs is made before forking: only async-signal-safe calls follow.
	const char* const arguments[] = {"xdg-open", path.c_str(), nullptr};
	const pid_t child = ::fork();
	if (child < 0)
		return false;
	if (child == 0)
	{
		// The intermediate child ends at once, so the opener is nobody's child of ours.
		if (::fork() != 0)
			::_exit(0);
		::setsid();
		const int null = ::open("/dev/null", O_RDWR);
		if (null >= 0)
		{
			::dup2(null, 0);
			::dup2(null, 1);
			::dup2(null, 2);
		}
		::signal(SIGPIPE, SIG_DFL);
		::execvp("xdg-open", const_cast<char* const*>(arguments));
		::_exit(127);
	}
	int status = 0;
	while (::waitpid(child, &status, 0) < 0 && errno == EINTR)
	{
	}
	return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace plat
