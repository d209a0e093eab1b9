// The platform half of a log file that several loggers may share: a descriptor that appends whole batches at
// the file's end, a look at the file (its size, whether it was removed, when it was made), the lock taken to
// leave a file at a split, and whether a file of the next number is a leftover to empty or another logger's
// to go on with.
#pragma once

#include <cstdint>
#include <string>

namespace velk {

class XMacLogFile
{
public:
	XMacLogFile() = delete;

	// A look at an open log file.
	struct Status
	{
		uint64_t size = 0;  // with what every writer appended
		bool removed = false;  // no name leads to the file any more
		// When the file was made; unknown where the file system keeps no such time.
		bool bornKnown = false;
		int64_t bornSeconds = 0;
		int32_t bornNanoseconds = 0;
	};

	// A close-on-exec descriptor appending at the end whoever else appends; a missing file is made. With
	// truncate, an existing file is emptied. Answers 0 or the errno.
	static int Open(const std::string& path, bool truncate, int* descriptor);
	// As Open, emptying a file there only when it is a leftover: one last changed before the file being left
	// (leaving) was made. A file changed since holds the lines of another logger that went on to it before
	// this one: they stay, and this one's follow them. Nothing is emptied when that birth is unknown.
	static int OpenEmptyingLeftover(const std::string& path, const Status& leaving, int* descriptor);
	// Answers 0 or the errno; status is written only on success.
	static int GetStatus(int descriptor, Status* status);
	// Waits for the exclusive lock of the open file, held until the descriptor is closed: every logger that
	// leaves a file at a split takes it, so that the choice and the opening of the next one are made by one
	// at a time, in this process or another. Answers 0 or the errno (ENOLCK where the file system has no
	// such locks).
	static int Lock(int descriptor);
	// Writes all the bytes at once as far as the system allows. Answers 0 or the errno.
	static int Append(int descriptor, const void* bytes, size_t size);
	static void Close(int descriptor);
	// Milliseconds of a monotonic clock cheap enough to read before every write, a few behind at most.
	static uint64_t NowMilliseconds();
};

}  // namespace velk
