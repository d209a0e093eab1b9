// A small locked file that keeps its last record through a torn write: two fixed-size slots written in
// turn, each with a sequence number, its length and a checksum. The file gets its whole size when it is
// made, flushed with its folder, so a later write never changes its size; a write that a power loss cuts
// short spoils only the slot it was writing, and the record before it stays whole in the other. Calls
// answer 0 or an errno; paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

class JournalFile
{
public:
	static constexpr size_t kSlotSize = 4096;
	static constexpr size_t kSlotHeaderSize = 32;
	static constexpr size_t kLongestRecord = kSlotSize - kSlotHeaderSize;

	explicit JournalFile(const std::string& path);
	// Unlocks, leaving the file.
	~JournalFile();
	JournalFile(const JournalFile&) = delete;
	JournalFile& operator=(const JournalFile&) = delete;

	// Makes the file when missing and locks it (an advisory flock), waiting at most waitMs for another
	// holder to let it go; waited tells whether another process held it: EWOULDBLOCK when it still does.
	// A folder at the path is EISDIR, a link ELOOP, anything else but a regular file EINVAL (nothing blocks
	// on a pipe), and the lock is always on the file that stands at the path once it is taken. A file that
	// has not its whole size (new, cut short, or written by an earlier version as one record of text) is
	// then given it, the slots it holds kept and an earlier version's whole record kept as the first slot's,
	// and the file is flushed, its folder too.
	int Lock(int waitMs, bool& waited);
	bool IsLocked() const { return fDescriptor >= 0; }
	// Whether the file held bytes when it was locked (it was not made by this lock), and whether it holds
	// a whole record (an empty one counts) since it was last read or written.
	bool WasFound() const { return fFound; }
	bool HasRecord() const { return fNewestSlot >= 0; }

	// The newest whole record: its text, empty when no slot holds one. torn tells whether a slot held bytes
	// that are no whole record (a write cut short, or bytes of something else).
	int Read(std::string& text, bool& torn);
	// Writes text as the newest record, into the slot that does not hold the newest whole one, and flushes
	// it (fdatasync) before answering. ENAMETOOLONG for a text longer than kLongestRecord.
	int Write(const std::string& text);
	// Removes the file while it is still locked, then unlocks it.
	int Remove();

private:
	int _Prepare();
	int _ReadSlots(std::string& text, bool& torn);

	std::string fPath;
	int fDescriptor = -1;
	uint64_t fSequence = 0;  // of the newest whole record
	int fNewestSlot = -1;    // the slot holding it, -1 for none
	bool fFound = false;
};

}  // namespace plat
