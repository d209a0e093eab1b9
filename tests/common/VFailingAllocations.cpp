#include "common/VFailingAllocations.h"

#include <cstdlib>
#include <new>

namespace {

// -1: not armed. Otherwise the count of allocations still let through on this thread.
thread_local long tAllowed = -1;
thread_local long tRefused = 0;

bool RefuseThisAllocation()
{
	if (tAllowed < 0)
		return false;
	if (tAllowed > 0) {
		--tAllowed;
		return false;
	}
	++tRefused;
	return true;
}

void* AllocateOrNull(std::size_t size, std::size_t alignment)
{
	if (RefuseThisAllocation())
		return nullptr;
	if (size == 0)
		size = 1;
	if (alignment <= alignof(std::max_align_t))
		return std::malloc(size);
	void* block = nullptr;
	return posix_memalign(&block, alignment, size) == 0 ? block : nullptr;
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment)
{
	void* block = AllocateOrNull(size, alignment);
	if (block == nullptr)
		throw std::bad_alloc();
	return block;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size, 0); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size, 0); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size, 0); }
void* operator new(std::size_t size, std::align_val_t al) { return AllocateOrThrow(size, static_cast<std::size_t>(al)); }
void* operator new[](std::size_t size, std::align_val_t al) { return AllocateOrThrow(size, static_cast<std::size_t>(al)); }
void* operator new(std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept
{
	return AllocateOrNull(size, static_cast<std::size_t>(al));
}
void* operator new[](std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept
{
	return AllocateOrNull(size, static_cast<std::size_t>(al));
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace velk::test {

StFailingAllocations::StFailingAllocations(long allowed)
{
	tRefused = 0;
	tAllowed = allowed < 0 ? 0 : allowed;
}

StFailingAllocations::~StFailingAllocations()
{
	tAllowed = -1;
}

long StFailingAllocations::GetRefusedCount() const
{
	return tRefused;
}

long ForEachAllocationFailure(const std::function<void(long allowed)>& action, long maxRuns)
{
	for (long allowed = 0; allowed < maxRuns; ++allowed) {
		long refused = 0;
		{
			StFailingAllocations failing(allowed);
			action(allowed);
			refused = failing.GetRefusedCount();
		}
		if (refused == 0)
			return allowed + 1;
	}
	return maxRuns;
}

}  // namespace velk::test
