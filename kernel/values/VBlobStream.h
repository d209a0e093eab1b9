// A stream over a blob value: its own empty VBlobWithPtr, deleted with the stream, or a caller's blob,
// which must outlive it and is left holding what was written. Errors are those of the blob; blob offsets
// are 32-bit, so positions of 2 GiB and more are refused with velk 3 (reported). Bytes between the end
// and a position set beyond it are zeros.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VStream.h"

namespace velk {

class VBlob;

class VELK_API VBlobStream : public VStream
{
public:
	explicit VBlobStream(VBlob* blob = nullptr);
	~VBlobStream() override;

	VBlob* GetBlob() const { return fBlob; }

protected:
	VError DoPutData(const void* data, size_t count) override;
	VError DoGetData(void* buffer, size_t* ioCount) override;
	int64 DoGetSize() override;
	// velk 3 (reported) for a negative size.
	VError DoSetSize(int64 size) override;
	// A position beyond the end grows the blob to it.
	VError DoSetPos(int64 pos) override;

private:
	VBlob* fBlob;
	bool fOwnsBlob;
};

}  // namespace velk
