#include "kernel/memory/VCppMemMgr.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "files/VSystem.h"
#include "kernel/memory/VMemCppImpl.h"
#include "kernel/memory/VMemCppImpl_stdlib.h"
#include "kernel/memory/VMemStats.h"
#include "kernel/memory/VMemoryHog.h"
#include "kernel/memory/mac/XMacCppMemMgr.h"
#include "runtime/VSyncEvent.h"

// Clang says which sanitizers are on through __has_feature, GCC through __SANITIZE_ADDRESS__ only.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define VELK_LEAK_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(VELK_LEAK_SANITIZER)
#define VELK_LEAK_SANITIZER 1
#endif

#ifdef VELK_LEAK_SANITIZER
#include <sanitizer/lsan_interface.h>
#endif

namespace velk {

namespace {

// The leak sanitizer scans stacks, globals and the heap, but not anonymous mappings like the manager's own
// pages: unless they are a root region, what only the manager points to (its backend, arenas, hog list)
// reads as leaked whenever a leak check runs while the manager lives.
#ifdef VELK_LEAK_SANITIZER
void AddLeakCheckRoot(const void* block, size_t size)
{
	__lsan_register_root_region(block, size);
}
void RemoveLeakCheckRoot(const void* block, size_t size)
{
	__lsan_unregister_root_region(block, size);
}
#else
void AddLeakCheckRoot(const void*, size_t)
{
}
void RemoveLeakCheckRoot(const void*, size_t)
{
}
#endif

// The manager's own block starts with its size, so the object sits this far in.
constexpr size_t kSelfHeaderSize = 8;

// Below this, AddVirtualAllocation is not worth splitting between the arenas.
constexpr size_t kMinVirtualAllocation = 0xA00000;

bool EqualsIgnoringASCIICase(const std::string& text, const char* expected)
{
	size_t length = std::strlen(expected);
	if (text.size() != length)
		return false;
	for (size_t i = 0; i < length; ++i)
	{
		char c = text[i];
		if (c >= 'A' && c <= 'Z')
			c = char(c - 'A' + 'a');
		if (c != expected[i])
			return false;
	}
	return true;
}

// The bundle asks for the arenas only with "velk" in any case (so "stdlib" and anything else mean the system).
bool BundleAsksForArenas()
{
	std::string name;
	return XMacCppMemMgr::GetBundleAllocatorName(name) && EqualsIgnoringASCIICase(name, "velk");
}

}  // namespace

VCppMemMgr::VCppMemMgr(EAllocatorKind kind)
{
	_Init(kind, false, false);
}

VCppMemMgr::VCppMemMgr(EAllocatorKind kind, bool option1, bool option2)
{
	_Init(kind, option1, option2);
}

VCppMemMgr::~VCppMemMgr()
{
	delete fSystemBackend;
	for (IMemCppImpl* arena : fArenas)
		delete arena;
	for (const VirtualAllocation& allocation : fVirtualAllocations)
		VSystem::VirtualFree(allocation.fMemory, allocation.fSize, allocation.fPhysical);
	for (VMemoryHog* hog : fMemHogs)
		delete hog;
}

void* VCppMemMgr::operator new(size_t size) noexcept
{
	static_assert(alignof(VCppMemMgr) <= kSelfHeaderSize);
	size_t total = size + kSelfHeaderSize;
	void* block = VSystem::VirtualAlloc(total, nullptr);
	if (block == nullptr)
		return nullptr;
	*static_cast<uint64*>(block) = uint64(total);
	AddLeakCheckRoot(block, total);
	return static_cast<char*>(block) + kSelfHeaderSize;
}

void VCppMemMgr::operator delete(void* object) noexcept
{
	if (object == nullptr)
		return;
	char* block = static_cast<char*>(object) - kSelfHeaderSize;
	size_t total = size_t(*reinterpret_cast<uint64*>(block));
	RemoveLeakCheckRoot(block, total);
	VSystem::VirtualFree(block, total, false);
}

void VCppMemMgr::_Init(EAllocatorKind kind, bool option1, bool option2)
{
	fTotalSystemMemory = 0;
	fPurgeHandler.store(nullptr);
	fCurrentArena = 0;
	fPurgingArena = -1;
	fLargestVirtualAllocation = 0;
	fOption1 = option1;
	fOption2 = option2;

	if (kind == eAllocator_FromBundle)
		kind = BundleAsksForArenas() ? eAllocator_Velk : eAllocator_System;
	fChosenKind = kind;

	switch (kind)
	{
		case eAllocator_Velk:
		{
			std::vector<IMemCppImpl*> arenas;
			for (int32 number = 0; number < fRequestedArenaCount; ++number)
			{
				VMemCppImpl* arena = new (std::nothrow) VMemCppImpl(number);
				if (arena == nullptr)
				{
					for (IMemCppImpl* made : arenas)
						delete made;
					return;
				}
				arenas.push_back(arena);
			}
			_UseArenas(std::move(arenas));
			break;
		}

		case eAllocator_System:
			fSystemBackend = new (std::nothrow) VMemCppImpl_stdlib;
			if (fSystemBackend != nullptr)
			{
				fSystemBackend->Init(this);
				fSystemMode = true;
			}
			break;

		default:
			break;
	}
}

void VCppMemMgr::_UseArenas(std::vector<IMemCppImpl*> arenas)
{
	fArenas = std::move(arenas);
	fArenaCount = int32(fArenas.size());
	for (IMemCppImpl* arena : fArenas)
		arena->Init(this);
	fCurrentArena = 0;
	fPurgingArena = -1;
	fLargestVirtualAllocation = 0;
	fSystemMode = false;
}

#ifdef VELK_TEST_HOOKS
void VCppMemMgr::_UseArenasForTesting(std::vector<IMemCppImpl*> arenas)
{
	delete fSystemBackend;
	fSystemBackend = nullptr;
	_UseArenas(std::move(arenas));
	fChosenKind = eAllocator_Velk;
}
#endif

void* VCppMemMgr::_MallocFromArenas(size_t size, bool flag, int32 tag, int32 preferredArena)
{
	bool hasPreferred = preferredArena >= 0 && preferredArena < fArenaCount;
	if (hasPreferred)
	{
		if (void* block = fArenas[size_t(preferredArena)]->Malloc(size, false, flag, tag))
			return block;
	}
	int32 index = fCurrentArena;
	do
	{
		if (!(hasPreferred && index == preferredArena) && index != fPurgingArena)
		{
			if (void* block = fArenas[size_t(index)]->Malloc(size, false, flag, tag))
				return block;
		}
		index = (index + 1) % fArenaCount;
	} while (index != fCurrentArena);
	return nullptr;
}

bool VCppMemMgr::_Purge(std::unique_lock<std::recursive_mutex>& lock, int32 arenaIndex, int32 handlerArena, uint64 size,
						bool firstCall)
{
	// Without an event the others could not wait for this purge: better refuse it.
	VSyncEvent* event = new (std::nothrow) VSyncEvent;
	if (event == nullptr)
		return false;
	fPurgeEvent = event;
	fPurgingArena = arenaIndex;

	lock.unlock();
	if (PurgeHandlerProc handler = fPurgeHandler.load())
		handler(handlerArena, size, firstCall);
	lock.lock();

	fPurgeEvent = nullptr;
	event->Unlock();
	event->Release();
	fPurgingArena = -1;
	return true;
}

void VCppMemMgr::_WaitForPurge(std::unique_lock<std::recursive_mutex>& lock)
{
	VSyncEvent* event = fPurgeEvent;
	event->Retain();
	lock.unlock();
	event->Lock();
	event->Release();
	lock.lock();
}

void* VCppMemMgr::Malloc(size_t size, bool flag, int32 tag, int32 preferredArena)
{
	if (fSystemMode)
		return fSystemBackend->Malloc(size, false, flag, tag);
	if (!_HasArenas())
		return nullptr;

	std::unique_lock<std::recursive_mutex> lock(fLock);
	if (size > fLargestVirtualAllocation)
		return nullptr;

	int32 start = fCurrentArena;
	bool firstPurgeCall = true;
	for (;;)
	{
		if (void* block = _MallocFromArenas(size, flag, tag, preferredArena))
			return block;

		if (fPurgingArena == -1)
		{
			int32 purged = fCurrentArena;
			if (!_Purge(lock, purged, purged, uint64(size), firstPurgeCall))
				return nullptr;
			firstPurgeCall = false;
			fCurrentArena = (fCurrentArena + 1) % fArenaCount;
			if (void* block = _MallocFromArenas(size, flag, tag, -1))
				return block;
		}
		else
		{
			_WaitForPurge(lock);
		}

		if (fCurrentArena == start)
			return nullptr;
		preferredArena = -1;
	}
}

void* VCppMemMgr::Calloc(int32 count, size_t size, int32 tag)
{
	if (count < 0)
		return nullptr;
	if (size != 0 && size_t(count) > std::numeric_limits<size_t>::max() / size)
		return nullptr;
	size_t total = size_t(count) * size;
	void* block = Malloc(total, false, tag, -1);
	if (block != nullptr && total > 0)
		std::memset(block, 0, total);
	return block;
}

void VCppMemMgr::Free(void* block)
{
	if (fSystemMode)
	{
		fSystemBackend->Free(block);
	}
	else if (block != nullptr && _HasArenas())
	{
		std::lock_guard<std::recursive_mutex> lock(fLock);
		fArenas[0]->Free(block);
	}
}

void* VCppMemMgr::Realloc(void* block, size_t size)
{
	if (block == nullptr)
		return Malloc(size, false, 0, -1);
	if (size == 0)
	{
		Free(block);
		return nullptr;
	}

	// The system allocator resizes in place or remaps large blocks' pages; a copy would make growing
	// buffers quadratic. realloc keeps the block on failure, as the copy below does.
	if (fSystemMode)
		return fSystemBackend->Realloc(block, size);

	void* moved = Malloc(size, false, kMEMTAG_GROW, -1);
	if (moved == nullptr)
		return nullptr;

	std::lock_guard<std::recursive_mutex> lock(fLock);
	std::memcpy(moved, block, std::min(GetPtrSize(block), size));
	Free(block);
	return moved;
}

size_t VCppMemMgr::GetPtrSize(const void* block)
{
	if (fSystemMode)
		return fSystemBackend->GetPtrSize(block);
	if (!_HasArenas())
		return 0;
	std::lock_guard<std::recursive_mutex> lock(fLock);
	return fArenas[0]->GetPtrSize(block);
}

void* VCppMemMgr::TryToMalloc(size_t size, bool flag, int32 tag, int32 preferredArena)
{
	if (!_HasArenas())
		return Malloc(size, flag, tag, preferredArena);
	return _MallocFromArenas(size, flag, tag, preferredArena);
}

void VCppMemMgr::PurgeMem(int32 arenaIndex)
{
	if (!_HasArenas())
		return;
	std::unique_lock<std::recursive_mutex> lock(fLock);
	while (fPurgingArena != -1)
		_WaitForPurge(lock);
	_Purge(lock, arenaIndex == -1 ? 0 : arenaIndex, arenaIndex, 0, true);
}

PurgeHandlerProc VCppMemMgr::SetPurgeHandlerProc(PurgeHandlerProc handler)
{
	return fPurgeHandler.exchange(handler);
}

bool VCppMemMgr::AddVirtualAllocation(size_t size, const void* hint, bool physical)
{
	if (!_HasArenas())
		return false;
	if (size < kMinVirtualAllocation)
		return true;

	std::lock_guard<std::recursive_mutex> lock(fLock);
	size_t share = size / size_t(fArenaCount);
	// Memory is placed exactly at a hint or not at all, so the shares follow one another from the hint.
	const char* where = static_cast<const char*>(hint);
	for (IMemCppImpl* arena : fArenas)
	{
		bool locked = false;
		void* memory = physical ? VSystem::VirtualAllocPhysicalMemory(share, where, &locked) : VSystem::VirtualAlloc(share, where);
		if (memory == nullptr)
			return false;
		try
		{
			fVirtualAllocations.push_back({memory, share, physical});
		}
		catch (const std::bad_alloc&)
		{
			VSystem::VirtualFree(memory, share, physical);
			return false;
		}
		arena->AddAlreadyAllocatedMem(memory, share, physical);
		fLargestVirtualAllocation = std::max(fLargestVirtualAllocation, uint64(share));
		if (where != nullptr)
			where += VSystem::RoundUpVMPageSize(share);
	}
	return true;
}

int32 VCppMemMgr::CountVirtualAllocations()
{
	if (fSystemMode)
		return fSystemBackend->CountAllocations();
	std::lock_guard<std::recursive_mutex> lock(fLock);
	int32 count = 0;
	for (IMemCppImpl* arena : fArenas)
		count += arena->CountAllocations();
	return count;
}

VMemoryHog* VCppMemMgr::RegisterMemHog()
{
	VMemoryHog* hog = new (std::nothrow) VMemoryHog;
	if (hog == nullptr)
		return nullptr;
	StLocker locker(&fHogsLock);
	try
	{
		fMemHogs.push_back(hog);
	}
	catch (const std::bad_alloc&)
	{
		delete hog;
		return nullptr;
	}
	return hog;
}

void VCppMemMgr::UnRegisterMemHog(VMemoryHog* hog)
{
	StLocker locker(&fHogsLock);
	auto found = std::find(fMemHogs.begin(), fMemHogs.end(), hog);
	if (found == fMemHogs.end())
		return;
	fMemHogs.erase(found);
	delete hog;
}

size_t VCppMemMgr::GetAllocatedMem()
{
	if (fSystemMode)
		return size_t(fSystemBackend->GetTotalAllocation());
	std::lock_guard<std::recursive_mutex> lock(fLock);
	uint64 total = 0;
	for (IMemCppImpl* arena : fArenas)
		total += arena->GetTotalAllocation();
	return size_t(total);
}

size_t VCppMemMgr::GetMaxFree()
{
	return 0;
}

void VCppMemMgr::GetMemStatistics(uint64& outReserved1, uint64& outReserved2, uint64& outAllocatedMem,
								  uint64& outReserved4, uint64& outReserved5, uint64& outReserved6,
								  uint64& outReserved7, uint64& outReserved8, uint64& outReserved9)
{
	outReserved1 = outReserved2 = outReserved4 = outReserved5 = outReserved6 = outReserved7 = outReserved8 =
		outReserved9 = 0;
	outAllocatedMem = uint64(GetAllocatedMem());
}

void VCppMemMgr::GetMemUsageInfo(uint64& outTotal, uint64& outUsed)
{
	outTotal = 0;
	outUsed = 0;
	if (fSystemMode)
	{
		fSystemBackend->GetMemUsageInfo(outTotal, outUsed);
		return;
	}
	std::lock_guard<std::recursive_mutex> lock(fLock);
	for (IMemCppImpl* arena : fArenas)
	{
		uint64 total = 0;
		uint64 used = 0;
		arena->GetMemUsageInfo(total, used);
		outTotal += total;
		outUsed += used;
	}
}

void VCppMemMgr::GetStatistics(VMemStats& stats, int32 arenaIndex)
{
	std::lock_guard<std::recursive_mutex> dumping(fStatsLock);
	std::lock_guard<std::recursive_mutex> lock(fLock);
	stats.Clear();
	if (fSystemMode)
	{
		fSystemBackend->GetStats(stats, 0);
	}
	else if (arenaIndex >= 0 && arenaIndex < fArenaCount)
	{
		fArenas[size_t(arenaIndex)]->GetStats(stats, int16(arenaIndex));
	}
	else
	{
		for (int32 index = 0; index < fArenaCount; ++index)
			fArenas[size_t(index)]->GetStats(stats, int16(index));
	}
}

int32 VCppMemMgr::GetAllocationBlockNumber(const void* block)
{
	if (block == nullptr || !_HasArenas())
		return 0;
	std::lock_guard<std::recursive_mutex> lock(fLock);
	return fArenas[0]->GetAllocationBlockNumber(block);
}

void VCppMemMgr::RegisterUser(const void*)
{
}

void VCppMemMgr::UnregisterUser(const void*)
{
}

void VCppMemMgr::RegisterBlock(DebugBlockHeader*, size_t, bool)
{
}

void VCppMemMgr::UnregisterBlock(DebugBlockHeader*)
{
}

void VCppMemMgr::GetUsage(VArrayString&, VArrayLong&, VArrayLong&)
{
}

void VCppMemMgr::DumpLeaks()
{
}

bool VCppMemMgr::Check()
{
	return true;
}

bool VCppMemMgr::CheckNow()
{
	return true;
}

bool VCppMemMgr::CheckPtr(const void*)
{
	return true;
}

bool VCppMemMgr::IsAPtr(const void*, size_t)
{
	return true;
}

}  // namespace velk
