// The file stream: one buffer, at fBufferPos in the file, that holds either bytes read ahead or bytes
// written and not yet in the file.
#include "files/VFileStream.h"

#include <algorithm>
#include <cstring>

#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "kernel/memory/VMemory.h"

namespace velk {

namespace {

constexpr int32 kBufferTag = FourCharCode("stmf");
constexpr int64 kTwoGiB = int64(1) << 31;

VError Raise(VError code)
{
	_ThrowError(code);
	return code;
}

}  // namespace

VFileStream::VFileStream(const VFile* file, uint32 openOptions) : fFile(file), fOpenOptions(openOptions)
{
	if (fFile != nullptr)
		fFile->Retain();
}

VFileStream::~VFileStream()
{
	// Bytes still in the buffer would otherwise never reach the file.
	if (IsWriting())
		CloseWriting();
	else if (IsReading())
		CloseReading();
	ReleaseBuffer();
	_CloseFile();
	if (fFile != nullptr)
		fFile->Release();
}

void VFileStream::_CloseFile()
{
	delete fFileDesc;
	fFileDesc = nullptr;
}

void VFileStream::_Allocate(size_t size)
{
	size = std::min(size, kMaxBufferSize);
	fBufferDataSize = 0;
	fBufferPos = GetPos();
	while (size > 0)
	{
		fBuffer = static_cast<uint8*>(VMemory::NewPtr(size, kBufferTag));
		if (fBuffer != nullptr)
			break;
		size = size > 1 ? size / 2 : 0;
	}
	fBufferAllocatedSize = fBuffer != nullptr ? size : 0;
}

void VFileStream::AllocateBuffer(size_t hint)
{
	if (fBuffer != nullptr)
		return;
	_Allocate(hint != 0 && hint <= fBufferSize ? hint : fBufferSize);
}

void VFileStream::ReleaseBuffer()
{
	if (fBuffer != nullptr)
		VMemory::DisposePtr(fBuffer);
	fBuffer = nullptr;
	fBufferAllocatedSize = 0;
	fBufferDataSize = 0;
}

void VFileStream::SetBufferSize(size_t size)
{
	if (IsWriting())
		Flush();
	ReleaseBuffer();
	fBufferSize = size;
	if (IsReading())
		_Allocate(fLogicalSize > 0 && uint64(fLogicalSize) < size ? size_t(fLogicalSize) : size);
	else if (IsWriting())
		_Allocate(size);
}

VError VFileStream::DoOpenReading()
{
	if (fFile == nullptr)
		return Raise(VE_STREAM_NO_FILE);
	if (fFileDesc == nullptr)
	{
		// A final symbolic link is followed as the stream's options say, for reading as for writing.
		const VError error = fFile->Open(FA_READ, &fFileDesc, FO_READ_AHEAD | (fOpenOptions & FO_FOLLOW_LINK));
		if (error != VE_OK)
			return error;
	}
	fLogicalSize = fFileDesc->GetSize();
	if (fBuffer == nullptr)
	{
		// A small file gets a buffer of exactly its size.
		if (fLogicalSize >= kTwoGiB || fLogicalSize == 0 || size_t(fLogicalSize) > fBufferSize)
			_Allocate(fBufferSize);
		else
			_Allocate(size_t(fLogicalSize));
	}
	fBufferPos = 0;
	fBufferDataSize = 0;
	return VE_OK;
}

VError VFileStream::DoOpenWriting()
{
	if (fFile == nullptr)
		return Raise(VE_STREAM_NO_FILE);
	if (fFileDesc != nullptr)
		return Raise(VE_STREAM_NOT_OPENED_FOR_WRITING);
	const VError error = fFile->Open(FA_SHARED, &fFileDesc, fOpenOptions);
	if (error != VE_OK)
		return error;
	fLogicalSize = fFileDesc->GetSize();
	if (fBuffer == nullptr)
		_Allocate(fBufferSize);
	fBufferPos = 0;
	fBufferDataSize = 0;
	return VE_OK;
}

VError VFileStream::DoCloseReading()
{
	ReleaseBuffer();
	_CloseFile();
	return VE_OK;
}

VError VFileStream::DoCloseWriting(bool setSize)
{
	ReleaseBuffer();
	VError error = VE_OK;
	if (setSize && fFileDesc != nullptr)
		error = fFileDesc->SetSize(fLogicalSize);
	_CloseFile();
	return error;
}

VError VFileStream::DoGetData(void* buffer, size_t* ioCount)
{
	const size_t asked = *ioCount;
	*ioCount = 0;
	if (fFileDesc == nullptr)
		return Raise(VE_STREAM_EOF);
	uint8* out = static_cast<uint8*>(buffer);
	int64 pos = GetPos();
	size_t delivered = 0;

	// What the buffer already holds.
	if (fBufferDataSize > 0 && pos >= fBufferPos && pos < fBufferPos + int64(fBufferDataSize))
	{
		const size_t offset = size_t(pos - fBufferPos);
		const size_t part = std::min(asked, fBufferDataSize - offset);
		std::memcpy(out, fBuffer + offset, part);
		delivered = part;
		pos += int64(part);
	}

	// Nothing lies beyond the stream's size: asking the file for it would only leave an error of its own.
	VError error = VE_OK;
	const size_t rest = asked - delivered;
	const int64 available = std::max<int64>(0, fLogicalSize - pos);
	if (rest > 0 && available > 0)
	{
		if (rest <= fBufferAllocatedSize)
		{
			const size_t fill = size_t(std::min<int64>(int64(fBufferAllocatedSize), available));
			size_t read = 0;
			fBufferPos = pos;
			fBufferDataSize = 0;
			error = fFileDesc->GetData(fBuffer, fill, pos, &read);
			fBufferDataSize = read;
			const size_t part = std::min(rest, read);
			std::memcpy(out + delivered, fBuffer, part);
			delivered += part;
		}
		else
		{
			size_t read = 0;
			error = fFileDesc->GetData(out + delivered, size_t(std::min<int64>(int64(rest), available)), pos, &read);
			delivered += read;
		}
	}

	*ioCount = delivered;
	if (error != VE_OK && error != VE_STREAM_EOF)
		return error;
	if (delivered < asked)
		return Raise(VE_STREAM_EOF);
	return VE_OK;
}

VError VFileStream::_WriteBuffer()
{
	if (fBufferDataSize == 0)
		return VE_OK;
	return fFileDesc->PutData(fBuffer, fBufferDataSize, fBufferPos, nullptr);
}

VError VFileStream::DoPutData(const void* data, size_t count)
{
	if (fFileDesc == nullptr)
		return Raise(VE_STREAM_NOT_OPENED_FOR_WRITING);
	const uint8* bytes = static_cast<const uint8*>(data);
	const int64 start = GetPos();
	int64 pos = start;
	size_t left = count;

	if (fBufferDataSize > 0 && pos >= fBufferPos && pos <= fBufferPos + int64(fBufferDataSize))
	{
		const size_t offset = size_t(pos - fBufferPos);
		const size_t part = std::min(fBufferAllocatedSize - offset, left);
		std::memcpy(fBuffer + offset, bytes, part);
		fBufferDataSize = std::max(fBufferDataSize, offset + part);
		bytes += part;
		pos += int64(part);
		left -= part;
	}

	if (left > 0)
	{
		VError error = _WriteBuffer();
		if (error != VE_OK)
			return error;
		fBufferDataSize = 0;
		if (left >= fBufferAllocatedSize)
		{
			fBufferPos = pos + int64(left);
			error = fFileDesc->PutData(bytes, left, pos, nullptr);
			if (error != VE_OK)
				return error;
		}
		else
		{
			std::memcpy(fBuffer, bytes, left);
			fBufferPos = pos;
			fBufferDataSize = left;
		}
	}

	fLogicalSize = std::max(fLogicalSize, start + int64(count));
	return VE_OK;
}

VError VFileStream::DoFlush()
{
	VError error = VE_OK;
	if (fFileDesc != nullptr && fBufferDataSize > 0)
	{
		error = _WriteBuffer();
		const VError flushError = fFileDesc->Flush();
		if (error == VE_OK)
			error = flushError;
	}
	fBufferPos = GetPos();
	fBufferDataSize = 0;
	return error;
}

VError VFileStream::DoSetPos(int64 pos)
{
	if (pos < 0)
		return Raise(VE_INVALID_PARAMETER);
	if (IsWriting())
	{
		VError error = VE_OK;
		if (pos > fBufferPos + int64(fBufferDataSize))
			error = DoFlush();
		if (error == VE_OK && pos > fLogicalSize && fFileDesc != nullptr)
		{
			error = fFileDesc->SetSize(pos);
			if (error == VE_OK)
				fLogicalSize = pos;
		}
		return error;
	}
	if (pos > fLogicalSize)
		return Raise(VE_STREAM_EOF);
	return VE_OK;
}

VError VFileStream::DoSetSize(int64 size)
{
	if (size < 0)
		return Raise(VE_INVALID_PARAMETER);
	if (size <= fBufferPos)
		fBufferDataSize = 0;
	else
		fBufferDataSize = size_t(std::min<int64>(int64(fBufferDataSize), size - fBufferPos));
	if (fFileDesc == nullptr)
		return Raise(VE_STREAM_NOT_OPENED_FOR_WRITING);
	const VError error = fFileDesc->SetSize(size);
	if (error == VE_OK)
		fLogicalSize = size;
	return error;
}

}  // namespace velk
