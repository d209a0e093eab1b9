// A stream over a growable block of bytes that it owns, read and written at any position. Bytes between
// the end and a position set or written beyond it are zeros.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/values/VStream.h"

namespace velk {

class VELK_API VPtrStream : public VStream
{
public:
	// Empty, its blocks from the process memory manager.
	VPtrStream();

	VStreamUnderlyingData GetUnderlyingData() const override
	{
		return {true, fBuffer.GetDataPtr(), int64(fBuffer.GetDataSize())};
	}

protected:
	// Grows the block with headroom when the bytes reach past it: velk 100 (not reported, nothing written)
	// when it cannot.
	VError DoPutData(const void* data, size_t count) override;
	// Delivers what is there; velk 200 (reported) when that is fewer bytes than asked.
	VError DoGetData(void* buffer, size_t* ioCount) override;
	int64 DoGetSize() override { return int64(fBuffer.GetDataSize()); }
	// A block of exactly size bytes (freed at 0): velk 100 (not reported) when memory is short, velk 3
	// (reported) for a negative size.
	VError DoSetSize(int64 size) override;
	// A position beyond the end grows the stream to it; velk 3 (reported) before the start.
	VError DoSetPos(int64 pos) override;

private:
	VMemoryBuffer<> fBuffer;
};

}  // namespace velk
