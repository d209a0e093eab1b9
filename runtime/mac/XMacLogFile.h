// The platform half of a log file that several loggers may share: a descriptor that appends whole batches at
// the file's end, its size, and whether a file of the next number is a leftover to empty or another
// logger's to go on with.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace velk {

class XMacLogFile
{
public:
	XMacLogFile() = delete;

	// A close-on-exec descriptor appending at the end whoever else appends; a missing file is made. With
	// truncate, an existing file is emptied. Answers 0 or the errno.
	static int Open(const std::string& path, bool truncate, int* descriptor);
	// As Open with truncate, except that a file changed at or after since is another writer's: its lines
	// stay and this one's follow them.
	static int OpenEmptyingLeftover(const std::string& path, time_t since, int* descriptor);
	// Writes all the bytes at once as far as the system allows. Answers 0 or the errno.
	static int Append(int descriptor, const void* bytes, size_t size);
	static int GetSize(int descriptor, uint64_t* size);
	static void Close(int descriptor);
	// Now, on the clock that stamps file changes.
	static time_t Now();
};

}  // namespace velk
