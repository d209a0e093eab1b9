#include "platform/VirtualMemory.h"

#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace plat {

size_t GetPageSize()
{
	static const size_t pageSize = []
	{
		long size = ::sysconf(_SC_PAGESIZE);
		return size > 0 ? size_t(size) : size_t(4096);
	}();
	return pageSize;
}

size_t RoundUpToPageSize(size_t size)
{
	size_t page = GetPageSize();
	size_t remainder = size % page;
	if (remainder == 0)
		return size;
	if (size > SIZE_MAX - (page - remainder))
		return 0;
	return size + (page - remainder);
}

void* ReserveMemory(size_t size, const void* hint)
{
	size_t length = RoundUpToPageSize(size);
	if (length == 0)
		return nullptr;
	int flags = MAP_PRIVATE | MAP_ANONYMOUS;
	if (hint != nullptr)
	{
		if (reinterpret_cast<uintptr_t>(hint) % GetPageSize() != 0)
			return nullptr;
		flags |= MAP_FIXED_NOREPLACE;
	}
	void* address = ::mmap(const_cast<void*>(hint), length, PROT_READ | PROT_WRITE, flags, -1, 0);
	if (address == MAP_FAILED)
		return nullptr;
	// Kernels older than the flag read it as a mere hint and may map elsewhere: a fixed placement was asked.
	if (hint != nullptr && address != hint)
	{
		::munmap(address, length);
		return nullptr;
	}
	return address;
}

void* ReservePhysicalMemory(size_t size, const void* hint, bool* locked)
{
	if (locked != nullptr)
		*locked = false;
	void* address = ReserveMemory(size, hint);
	if (address == nullptr)
		return nullptr;
	// The system call itself: sanitizer runtimes turn mlock into a no-op that claims success.
	bool isLocked = ::syscall(SYS_mlock, address, RoundUpToPageSize(size)) == 0;
	if (locked != nullptr)
		*locked = isLocked;
	return address;
}

void ReleaseMemory(void* address, size_t size)
{
	size_t length = RoundUpToPageSize(size);
	if (address == nullptr || length == 0)
		return;
	::munmap(address, length);
}

}  // namespace plat
