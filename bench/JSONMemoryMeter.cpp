// malloc and its family, defined in the benchmark program so that every library it loads allocates
// through them: each forwards to the C library's own entry point and, while a JSONMemoryMeter runs, adds
// the block's usable size to the bytes held (frees subtract theirs) and keeps the largest total reached.
// Outside a measure the only cost is one relaxed load.
#include "JSONMemoryMeter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* block);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<bool> sMetering{false};
std::atomic<int64_t> sHeld{0};
std::atomic<int64_t> sPeak{0};

void Count(void* block, int64_t sign)
{
	if (block == nullptr || !sMetering.load(std::memory_order_relaxed))
		return;
	const int64_t held = sHeld.fetch_add(sign * int64_t(malloc_usable_size(block)), std::memory_order_relaxed)
		+ sign * int64_t(malloc_usable_size(block));
	int64_t peak = sPeak.load(std::memory_order_relaxed);
	while (held > peak && !sPeak.compare_exchange_weak(peak, held, std::memory_order_relaxed))
	{
	}
}

bool IsAlignment(size_t alignment)
{
	return alignment != 0 && (alignment & (alignment - 1)) == 0;
}

}  // namespace

extern "C" {

void* malloc(size_t size)
{
	void* block = __libc_malloc(size);
	Count(block, 1);
	return block;
}

void free(void* block)
{
	Count(block, -1);
	__libc_free(block);
}

void* calloc(size_t count, size_t size)
{
	void* block = __libc_calloc(count, size);
	Count(block, 1);
	return block;
}

void* realloc(void* block, size_t size)
{
	Count(block, -1);
	void* moved = __libc_realloc(block, size);
	// A failed growth leaves the block where it was.
	Count(moved != nullptr || size == 0 ? moved : block, 1);
	return moved;
}

void* memalign(size_t alignment, size_t size)
{
	void* block = __libc_memalign(alignment, size);
	Count(block, 1);
	return block;
}

void* aligned_alloc(size_t alignment, size_t size)
{
	return memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
	if (!IsAlignment(alignment) || alignment % sizeof(void*) != 0)
		return EINVAL;
	void* block = memalign(alignment, size);
	if (block == nullptr)
		return ENOMEM;
	*out = block;
	return 0;
}

}  // extern "C"

namespace velk::bench {

JSONMemoryMeter::JSONMemoryMeter()
{
	sHeld.store(0, std::memory_order_relaxed);
	sPeak.store(0, std::memory_order_relaxed);
	sMetering.store(true, std::memory_order_seq_cst);
}

JSONMemoryMeter::~JSONMemoryMeter()
{
	sMetering.store(false, std::memory_order_seq_cst);
}

size_t JSONMemoryMeter::GetPeak() const
{
	const int64_t peak = sPeak.load(std::memory_order_relaxed);
	return peak > 0 ? size_t(peak) : 0;
}

}  // namespace velk::bench
