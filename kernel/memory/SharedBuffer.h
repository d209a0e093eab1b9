// A reference-counted block of bytes from malloc, shared by its holders without copying. The block holds the
// payload size (uint64), the count (uint32) and then the payload, 12 bytes in, followed by 3 spare bytes.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API SharedBuffer
{
public:
	// A buffer of size payload bytes (contents unset) holding one reference; null when malloc fails or the
	// block size would overflow.
	static SharedBuffer* Create(size_t size);
	// The same with the payload copied from source; null also when source is null and size is not 0.
	static SharedBuffer* Create(const void* source, size_t size);

	// Adds one reference atomically; returns the new count.
	int32 Retain();
	// Drops one reference atomically; the block is freed by the release that reaches 0. Returns the new count.
	int32 Release();

	uint64 GetSize() const;
	uint8* GetData();
	const uint8* GetData() const;
	// For diagnostics: may change at once on another thread.
	int32 GetRefCount() const;

	SharedBuffer() = delete;
	SharedBuffer(const SharedBuffer&) = delete;
	SharedBuffer& operator=(const SharedBuffer&) = delete;
	~SharedBuffer() = delete;

private:
	uint8* _Block() { return reinterpret_cast<uint8*>(this); }
	const uint8* _Block() const { return reinterpret_cast<const uint8*>(this); }
};

}  // namespace velk
