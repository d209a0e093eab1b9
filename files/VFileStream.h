// The stream that reads or writes one file through a single memory buffer: the file is opened when the
// stream is, reads are served from the buffer and small writes gathered in it, and the file grows on demand.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "files/IFile.h"
#include "kernel/values/VStream.h"

namespace velk {

class VFile;
class VFileDesc;

constexpr VError VE_STREAM_NO_FILE = MakeVError(kVELK_SIGNATURE, 205);

// Transfers of at least the buffer's size bypass it. A failure of VFile::Open or of the open file comes back
// as the file layer pushed it; the stream's own errors (velk 200 end of data, 204, 205) are reported where
// they arise. Used by one thread at a time.
class VELK_API VFileStream : public VStream
{
public:
	static constexpr size_t kDefaultBufferSize = 32768;
	static constexpr size_t kMaxBufferSize = 0x7FFFFFFF;

	// Retains file (may be null: opening then fails with velk 205). openOptions are those of VFile::Open
	// used when opening for writing; reading opens with read-ahead, following a final symbolic link when
	// openOptions do.
	VFileStream(const VFile* file, uint32 openOptions = FO_FOLLOW_LINK);
	// Closes a stream left open (writing what its buffer holds first), frees the buffer and releases the
	// file; a failure is then only on the task's error context.
	~VFileStream() override;

	// Flushes first when open for writing, then replaces the buffer by one of size bytes (0: none, every
	// transfer going straight to the file), allocated at once when the stream is open.
	void SetBufferSize(size_t size);
	size_t GetBufferSize() const { return fBufferSize; }
	// Bytes actually allocated (0 when there is no buffer): allocation halves the size until it succeeds.
	size_t GetAllocatedBufferSize() const { return fBufferAllocatedSize; }
	// When there is no buffer, allocates one of hint bytes when hint is non-zero and within the buffer size
	// asked for, else of the buffer size.
	void AllocateBuffer(size_t hint);
	void ReleaseBuffer();

protected:
	// velk 205 without a file; otherwise the file's open error.
	VError DoOpenReading() override;
	// velk 205 without a file, 204 while a file is still open; the file is opened shared read-write.
	VError DoOpenWriting() override;
	VError DoCloseReading() override;
	// With setSize the file is cut (or grown) to the stream's size; the base flushed the buffer just before.
	VError DoCloseWriting(bool setSize) override;
	// Fewer bytes than asked: velk 200.
	VError DoGetData(void* buffer, size_t* ioCount) override;
	VError DoPutData(const void* data, size_t count) override;
	// Writes the buffer at its place and syncs the file.
	VError DoFlush() override;
	// Writing beyond the end grows the file to pos; reading beyond the end is velk 200. A negative position is
	// velk 3.
	VError DoSetPos(int64 pos) override;
	int64 DoGetSize() override { return fLogicalSize; }
	VError DoSetSize(int64 size) override;

private:
	// Allocates size bytes, halving on failure; no buffer when even one byte cannot be had.
	void _Allocate(size_t size);
	// Writes the buffered bytes at their place; the buffer keeps them.
	VError _WriteBuffer();
	void _CloseFile();

	const VFile* fFile;  // retained
	VFileDesc* fFileDesc = nullptr;
	int64 fLogicalSize = 0;
	int64 fBufferPos = 0;
	size_t fBufferDataSize = 0;
	size_t fBufferAllocatedSize = 0;
	size_t fBufferSize = kDefaultBufferSize;
	uint8* fBuffer = nullptr;
	uint32 fOpenOptions;
};

}  // namespace velk
