// A file descriptor closed when its holder goes, so that every early return of a walk or a write closes
// what it opened; and the close that answers an error without ever closing twice.
#pragma once

#include <unistd.h>

#include <cerrno>

namespace plat {

// Closes descriptor; 0 or the errno. Linux releases the descriptor even when close is interrupted: an
// interrupted close is not tried again, since the number may already be another file's.
inline int RetryingClose(int descriptor)
{
	return close(descriptor) == 0 || errno == EINTR ? 0 : errno;
}

class StDescriptor
{
public:
	explicit StDescriptor(int descriptor = -1)
		: fDescriptor(descriptor)
	{
	}
	~StDescriptor()
	{
		if (fDescriptor >= 0)
			RetryingClose(fDescriptor);
	}
	StDescriptor(const StDescriptor&) = delete;
	StDescriptor& operator=(const StDescriptor&) = delete;

	int Get() const { return fDescriptor; }
	// For the calls that open into an int they are given.
	int& Out() { return fDescriptor; }

private:
	int fDescriptor;
};

}  // namespace plat
