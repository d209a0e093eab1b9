// Marks arena memory that nobody may touch (free blocks past their links, the uncarved ends of chunks and pages)
// for AddressSanitizer, so a use after free or an overrun inside an arena is caught as it would be in the heap.
// Nothing at all in builds without it.
#pragma once

#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELK_ARENA_POISON 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(VELK_ARENA_POISON)
#define VELK_ARENA_POISON 1
#endif

#ifdef VELK_ARENA_POISON
#include <sanitizer/asan_interface.h>
#endif

namespace velk {

inline void PoisonArenaMemory(const void* address, size_t size)
{
#ifdef VELK_ARENA_POISON
	if (size > 0)
		__asan_poison_memory_region(address, size);
#else
	(void) address;
	(void) size;
#endif
}

inline void UnpoisonArenaMemory(const void* address, size_t size)
{
#ifdef VELK_ARENA_POISON
	if (size > 0)
		__asan_unpoison_memory_region(address, size);
#else
	(void) address;
	(void) size;
#endif
}

}  // namespace velk
