#include "platform/JournalFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/FileOperations.h"
#include "platform/TestFaults.h"

namespace plat {

namespace {

// A slot: the magic, the sequence number, the record's length, four zero bytes, the checksum of the
// sequence, length and record (FNV-1a, 64 bits), then the record. Numbers are little-endian.
constexpr char kSlotMagic[8] = {'v', 'e', 'l', 'k', 'j', 'r', 'n', '2'};
constexpr size_t kSequenceAt = 8;
constexpr size_t kLengthAt = 16;
constexpr size_t kChecksumAt = 24;
constexpr size_t kFileSize = 2 * JournalFile::kSlotSize;
// What an earlier version wrote: "velk-swap 1 <length>\n" and that many bytes of record, alone in the file.
constexpr char kEarlierMagic[] = "velk-swap 1 ";
constexpr size_t kEarlierLongest = 65536;
constexpr int kLockPollMs = 50;

void PutNumber(unsigned char* at, uint64_t value, size_t bytes)
{
	for (size_t i = 0; i < bytes; ++i)
		at[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetNumber(const unsigned char* at, size_t bytes)
{
	uint64_t value = 0;
	for (size_t i = 0; i < bytes; ++i)
		value |= uint64_t(at[i]) << (8 * i);
	return value;
}

uint64_t Checksum(const unsigned char* slot, size_t length)
{
	uint64_t hash = 0xcbf29ce484222325ull;
	auto add = [&hash](const unsigned char* bytes, size_t count) {
		for (size_t i = 0; i < count; ++i)
		{
			hash ^= bytes[i];
			hash *= 0x100000001b3ull;
		}
	};
	add(slot + kSequenceAt, kChecksumAt - kSequenceAt);
	add(slot + JournalFile::kSlotHeaderSize, length);
	return hash;
}

// The slot's bytes for a record, header and record only: what lies after it in the slot is never read.
std::vector<unsigned char> MakeSlot(uint64_t sequence, const std::string& text)
{
	std::vector<unsigned char> slot(JournalFile::kSlotHeaderSize + text.size(), 0);
	std::memcpy(slot.data(), kSlotMagic, sizeof(kSlotMagic));
	PutNumber(slot.data() + kSequenceAt, sequence, 8);
	PutNumber(slot.data() + kLengthAt, text.size(), 4);
	std::memcpy(slot.data() + JournalFile::kSlotHeaderSize, text.data(), text.size());
	PutNumber(slot.data() + kChecksumAt, Checksum(slot.data(), text.size()), 8);
	return slot;
}

// Whether the slot holds a whole record, and then its sequence and text.
bool ReadSlot(const unsigned char* slot, size_t available, uint64_t& sequence, std::string& text)
{
	if (available < JournalFile::kSlotHeaderSize || std::memcmp(slot, kSlotMagic, sizeof(kSlotMagic)) != 0)
		return false;
	const size_t length = size_t(GetNumber(slot + kLengthAt, 4));
	if (length > JournalFile::kLongestRecord || JournalFile::kSlotHeaderSize + length > available ||
		GetNumber(slot + kChecksumAt, 8) != Checksum(slot, length))
		return false;
	sequence = GetNumber(slot + kSequenceAt, 8);
	text.assign(reinterpret_cast<const char*>(slot + JournalFile::kSlotHeaderSize), length);
	return true;
}

int WriteAt(int descriptor, const unsigned char* bytes, size_t size, off_t at)
{
	size_t done = 0;
	while (done < size)
	{
		const ssize_t wrote = ::pwrite(descriptor, bytes + done, size - done, at + off_t(done));
		if (wrote < 0 && errno == EINTR)
			continue;
		if (wrote <= 0)
			return wrote < 0 ? errno : EIO;
		done += size_t(wrote);
	}
	return 0;
}

int ReadAt(int descriptor, std::vector<unsigned char>& bytes, size_t limit)
{
	bytes.assign(limit, 0);
	size_t done = 0;
	while (done < limit)
	{
		const ssize_t got = ::pread(descriptor, bytes.data() + done, limit - done, off_t(done));
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0)
			return errno;
		if (got == 0)
			break;
		done += size_t(got);
	}
	bytes.resize(done);
	return 0;
}

// The record an earlier version left in the file, when it is whole.
bool ReadEarlierRecord(const std::vector<unsigned char>& bytes, std::string& text)
{
	const std::string content(bytes.begin(), bytes.end());
	const size_t magic = sizeof(kEarlierMagic) - 1;
	const size_t header = content.find('\n');
	if (content.compare(0, magic, kEarlierMagic) != 0 || header == std::string::npos)
		return false;
	const size_t length = std::strtoull(content.c_str() + magic, nullptr, 10);
	if (content.size() < header + 1 + length || length > JournalFile::kLongestRecord)
		return false;
	text = content.substr(header + 1, length);
	return true;
}

template <typename Call>
int WithoutExceptions(Call call)
{
	try
	{
		return call();
	}
	catch (const std::bad_alloc&)
	{
		return ENOMEM;
	}
}

}  // namespace

JournalFile::JournalFile(const std::string& path)
	: fPath(path)
{
}

JournalFile::~JournalFile()
{
	if (fDescriptor >= 0)
		::close(fDescriptor);
}

int JournalFile::Lock(int waitMs, bool& waited)
{
	waited = false;
	if (fDescriptor >= 0)
		return 0;
	if (fPath.empty())
		return EINVAL;
	for (int waitedMs = 0;;)
	{
		// No blocking open: something other than a file at the path must not hold the run.
		const int descriptor = ::open(fPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
		if (descriptor < 0)
			return errno;
		struct stat status;
		const int examined = ::fstat(descriptor, &status) != 0 ? errno : !S_ISREG(status.st_mode) ? EINVAL : 0;
		if (examined != 0)
		{
			::close(descriptor);
			return examined;
		}
		const int locked = RetryingFlock(descriptor, LOCK_EX | LOCK_NB);
		if (locked == 0)
		{
			// The holder before us may have removed the file once done: the lock must be on the file that
			// stands at the path now.
			struct stat current;
			if (::stat(fPath.c_str(), &current) == 0 && current.st_dev == status.st_dev && current.st_ino == status.st_ino)
			{
				fDescriptor = descriptor;
				fFound = current.st_size > 0;
				const int prepared = WithoutExceptions([this] { return _Prepare(); });
				if (prepared != 0)
				{
					::close(fDescriptor);
					fDescriptor = -1;
				}
				return prepared;
			}
			::close(descriptor);
			continue;
		}
		::close(descriptor);
		if (locked != EWOULDBLOCK)
			return locked;
		waited = true;
		if (waitedMs >= waitMs)
			return EWOULDBLOCK;
		::usleep(useconds_t(kLockPollMs) * 1000);
		waitedMs += kLockPollMs;
	}
}

int JournalFile::_Prepare()
{
	struct stat status;
	if (::fstat(fDescriptor, &status) != 0)
		return errno;
	if (size_t(status.st_size) != kFileSize)
	{
		std::vector<unsigned char> content;
		if (int error = ReadAt(fDescriptor, content, kEarlierLongest))
			return error;
		// Slots already there (a file cut short) are kept; so is an earlier version's record, as the first.
		std::vector<unsigned char> whole(kFileSize, 0);
		std::string earlier;
		if (ReadEarlierRecord(content, earlier))
		{
			const std::vector<unsigned char> slot = MakeSlot(1, earlier);
			std::memcpy(whole.data(), slot.data(), slot.size());
		}
		else
			std::memcpy(whole.data(), content.data(), std::min(content.size(), kFileSize));
		if (int error = WriteAt(fDescriptor, whole.data(), whole.size(), 0))
			return error;
		if (::ftruncate(fDescriptor, off_t(kFileSize)) != 0 || ::fsync(fDescriptor) != 0)
			return errno;
		RecordCall("journal-create", fPath);
		if (int error = SyncFolder(ParentFolderOf(fPath).c_str()))
			return error;
	}
	std::string text;
	bool torn = false;
	return _ReadSlots(text, torn);
}

int JournalFile::_ReadSlots(std::string& text, bool& torn)
{
	text.clear();
	torn = false;
	std::vector<unsigned char> content;
	if (int error = ReadAt(fDescriptor, content, kFileSize))
		return error;
	fSequence = 0;
	fNewestSlot = -1;
	for (int slot = 0; slot < 2; ++slot)
	{
		const size_t at = size_t(slot) * kSlotSize;
		const size_t available = content.size() > at ? std::min(content.size() - at, kSlotSize) : 0;
		uint64_t sequence = 0;
		std::string record;
		if (ReadSlot(content.data() + at, available, sequence, record))
		{
			if (fNewestSlot < 0 || sequence > fSequence)
			{
				fSequence = sequence;
				fNewestSlot = slot;
				text = record;
			}
		}
		else
		{
			for (size_t i = 0; i < available && !torn; ++i)
				torn = content[at + i] != 0;
		}
	}
	return 0;
}

int JournalFile::Read(std::string& text, bool& torn)
{
	text.clear();
	torn = false;
	if (fDescriptor < 0)
		return EBADF;
	return WithoutExceptions([&] { return _ReadSlots(text, torn); });
}

int JournalFile::Write(const std::string& text)
{
	if (fDescriptor < 0)
		return EBADF;
	if (text.size() > kLongestRecord)
		return ENAMETOOLONG;
	StopIfArmed("journal", fPath);
	return WithoutExceptions([&] {
		const int slot = fNewestSlot == 0 ? 1 : 0;
		const std::vector<unsigned char> bytes = MakeSlot(fSequence + 1, text);
		if (int error = WriteAt(fDescriptor, bytes.data(), bytes.size(), off_t(size_t(slot) * kSlotSize)))
			return error;
		if (::fdatasync(fDescriptor) != 0)
			return errno;
		++fSequence;
		fNewestSlot = slot;
		std::string summary = text;
		std::replace(summary.begin(), summary.end(), '\n', ' ');
		RecordCall("journal-write", fPath, summary);
		return 0;
	});
}

int JournalFile::Remove()
{
	if (fDescriptor < 0)
		return 0;
	const int removed = ::unlink(fPath.c_str()) == 0 || errno == ENOENT ? 0 : errno;
	::close(fDescriptor);
	fDescriptor = -1;
	if (removed == 0)
		RecordCall("journal-remove", fPath);
	return removed;
}

}  // namespace plat
