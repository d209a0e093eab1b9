#include "kernel/memory/SharedBuffer.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace velk {

namespace {

constexpr size_t kCountOffset = 8;
constexpr size_t kPayloadOffset = 12;
constexpr size_t kBlockOverhead = 15;	// size, count, and 3 spare bytes behind the payload

std::atomic_ref<uint32> CountOf(const uint8* block)
{
	// The count sits 8 bytes into a malloc'd block, so it is always 4-byte aligned.
	return std::atomic_ref<uint32>(*reinterpret_cast<uint32*>(const_cast<uint8*>(block) + kCountOffset));
}

}  // namespace

SharedBuffer* SharedBuffer::Create(size_t size)
{
	if (size > std::numeric_limits<size_t>::max() - kBlockOverhead)
		return nullptr;
	uint8* block = static_cast<uint8*>(std::malloc(size + kBlockOverhead));
	if (block == nullptr)
		return nullptr;
	uint64 payloadSize = size;
	std::memcpy(block, &payloadSize, sizeof(payloadSize));
	uint32 count = 1;
	std::memcpy(block + kCountOffset, &count, sizeof(count));
	return reinterpret_cast<SharedBuffer*>(block);
}

SharedBuffer* SharedBuffer::Create(const void* source, size_t size)
{
	if (source == nullptr && size != 0)
		return nullptr;
	SharedBuffer* buffer = Create(size);
	if (buffer != nullptr && size != 0)
		std::memcpy(buffer->GetData(), source, size);
	return buffer;
}

int32 SharedBuffer::Retain()
{
	return int32(CountOf(_Block()).fetch_add(1) + 1);
}

int32 SharedBuffer::Release()
{
	int32 count = int32(CountOf(_Block()).fetch_sub(1) - 1);
	if (count == 0)
		std::free(_Block());
	return count;
}

uint64 SharedBuffer::GetSize() const
{
	uint64 size = 0;
	std::memcpy(&size, _Block(), sizeof(size));
	return size;
}

uint8* SharedBuffer::GetData()
{
	return _Block() + kPayloadOffset;
}

const uint8* SharedBuffer::GetData() const
{
	return _Block() + kPayloadOffset;
}

int32 SharedBuffer::GetRefCount() const
{
	return int32(CountOf(_Block()).load());
}

}  // namespace velk
