// A read-only stream over a caller's block of bytes, which must outlive it. Every write, size change or
// opening for writing answers velk 204.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VStream.h"

namespace velk {

class VELK_API VConstPtrStream : public VStream
{
public:
	// A null data pointer counts as no bytes.
	VConstPtrStream(const void* data, int64 size);

	VStreamUnderlyingData GetUnderlyingData() const override { return {true, fData, fSize}; }

protected:
	// Reported (velk 204) and answered.
	VError DoOpenWriting() override;
	VError DoPutData(const void* data, size_t count) override;
	// Delivers what is left; velk 200 (reported) when that is fewer bytes than asked.
	VError DoGetData(void* buffer, size_t* ioCount) override;
	int64 DoGetSize() override { return fSize; }
	VError DoSetSize(int64 size) override;
	// velk 200 (reported) beyond the end, velk 3 before the start.
	VError DoSetPos(int64 pos) override;

private:
	const uint8* fData;
	int64 fSize;
};

}  // namespace velk
