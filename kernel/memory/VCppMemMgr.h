// The process memory manager: a facade over the system allocator or the toolbox arenas, chosen once at
// construction, with the purge machinery for full arenas and the list of registered memory hogs.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/VChainOf.h"
#include "kernel/memory/VLeaksChecker.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class IMemCppImpl;
class VMemCppImpl_stdlib;
class VMemStats;
class VMemoryHog;
class VSyncEvent;
class VArrayString;
class VArrayLong;
struct DebugBlockHeader;

// Records of blocks registered for debugging, kept by the memory manager in a chain of pools. The
// manager's debugging hooks record nothing, so its chain stays empty.
struct VDebugBlockInfoPool : public VChainLink<VDebugBlockInfoPool>
{
};

enum EAllocatorKind : int32
{
	eAllocator_FromBundle = 0,	// "velk" as the bundle's "MemoryAllocator" (any case) picks the arenas, else the system
	eAllocator_System = 1,
	eAllocator_Velk = 2
};

// Tags: four-character codes recorded with each arena block for statistics.
constexpr int32 kMEMTAG_STRING = int32(FourCharCode("str "));
constexpr int32 kMEMTAG_STRING_EXT = int32(FourCharCode("strX"));
constexpr int32 kMEMTAG_BUFFER = int32(FourCharCode("memb"));
constexpr int32 kMEMTAG_GROW = int32(FourCharCode("grow"));

// Called with the manager lock released when every arena refused a request (requestedSize 0 for PurgeMem);
// firstCall is false on the later rounds of one request. Returns the bytes it freed (informative only).
using PurgeHandlerProc = uint64 (*)(int32 arenaIndex, uint64 requestedSize, bool firstCall);

class VELK_API VCppMemMgr
{
public:
	// Kinds other than the three above create no backend: every allocation then gives null.
	explicit VCppMemMgr(EAllocatorKind kind);
	// The two options are kept for the backends; no operation here reads them.
	VCppMemMgr(EAllocatorKind kind, bool option1, bool option2);
	virtual ~VCppMemMgr();

	VCppMemMgr(const VCppMemMgr&) = delete;
	VCppMemMgr& operator=(const VCppMemMgr&) = delete;

	// The manager itself lives in virtual memory of its own, not in the heap it manages: new gives null
	// when the system refuses the pages. Sanitizer builds make those pages a root of the leak checker,
	// which does not scan such mappings, so what only the manager holds is not reported as leaked.
	static void* operator new(size_t size) noexcept;
	static void operator delete(void* object) noexcept;

	// A block of at least size bytes, or null; never records an error. In arena mode preferredArena (0 to
	// 3) is tried first, and when every arena refuses the purge handler is given a chance before null.
	void* Malloc(size_t size, bool flag, int32 tag, int32 preferredArena = -1);
	// count x size zeroed bytes; null when count is negative, the product overflows or memory is short.
	void* Calloc(int32 count, size_t size, int32 tag);
	// Null is ignored.
	void Free(void* block);
	// Null block: a new block. Size 0: frees the block and gives null. Otherwise a block of size bytes holding
	// the content (up to the smaller size); the old pointer is then invalid, though the result may equal it.
	// On failure null is returned and the old block stays valid. System mode hands the block to the system's
	// realloc, which resizes large blocks without copying them; arena mode copies into a new block tagged
	// kMEMTAG_GROW under the lock.
	void* Realloc(void* block, size_t size);
	// Usable bytes of a block of this manager; 0 for null.
	size_t GetPtrSize(const void* block);

	// Arena mode: one pass over the arenas without the manager lock or a purge (the caller keeps other
	// threads off the manager). System mode: Malloc.
	void* TryToMalloc(size_t size, bool flag, int32 tag, int32 preferredArena);
	// Arena mode: runs the purge handler for arenaIndex (-1: all), after any purge already running.
	void PurgeMem(int32 arenaIndex);
	// Returns the previous handler.
	PurgeHandlerProc SetPurgeHandlerProc(PurgeHandlerProc handler);

	// Arena mode: gives every arena an equal share of size bytes of fresh system memory, kept for the life
	// of the process; with a hint the shares lie one after the other from there. Below 10 MiB nothing is
	// done and true is returned. False in system mode, or at the first refusal of the system (the arenas
	// already served keep their share).
	bool AddVirtualAllocation(size_t size, const void* hint, bool physical);
	int32 CountVirtualAllocations();

	// A hog owned by the calling task, kept in the hog list; null when it cannot be made.
	VMemoryHog* RegisterMemHog();
	// Removes the hog from the list and destroys it; a hog that is not in the list is ignored.
	void UnRegisterMemHog(VMemoryHog* hog);

	size_t GetAllocatedMem();
	size_t GetMaxFree();
	// The third output is GetAllocatedMem(); the others are 0.
	void GetMemStatistics(uint64& outReserved1, uint64& outReserved2, uint64& outAllocatedMem, uint64& outReserved4,
						  uint64& outReserved5, uint64& outReserved6, uint64& outReserved7, uint64& outReserved8,
						  uint64& outReserved9);
	void GetMemUsageInfo(uint64& outTotal, uint64& outUsed);
	// Clears stats, then adds the figures of arenaIndex, or of every arena when it is out of range. Takes
	// the statistics lock, then the manager lock: dumps come one at a time, allocations wait only while
	// the arenas are read.
	void GetStatistics(VMemStats& stats, int32 arenaIndex);
	// The number of the arena that owns the block; 0 in system mode.
	int32 GetAllocationBlockNumber(const void* block);

	// Bytes of system memory handed to the arenas; each arena adds what it receives.
	uint64 GetTotalSystemMemory() const { return fTotalSystemMemory; }
	void AddToTotalSystemMemory(uint64 bytes) { fTotalSystemMemory += bytes; }
	void SubtractFromTotalSystemMemory(uint64 bytes) { fTotalSystemMemory -= bytes; }

	// Debugging hooks of the heap checker: they check nothing and record nothing.
	const void* CheckVObject(const void* object) const { return object; }
	void RegisterUser(const void* user);
	void UnregisterUser(const void* user);
	void RegisterBlock(DebugBlockHeader* header, size_t size, bool flag);
	void UnregisterBlock(DebugBlockHeader* header);
	void GetUsage(VArrayString& names, VArrayLong& counts, VArrayLong& sizes);
	void DumpLeaks();
	bool Check();
	bool CheckNow();
	bool CheckPtr(const void* block);
	bool IsAPtr(const void* block, size_t size);

	// The leak checker embedded in the manager, for the life of the manager.
	VLeaksChecker& GetLeaksChecker() { return fLeaksChecker; }
	// The pools of debug block records (empty: see VDebugBlockInfoPool).
	const VChainOf<VDebugBlockInfoPool>& GetDebugBlockInfoPools() const { return fDebugBlockInfos; }

	// True when blocks come from the system allocator.
	bool IsSystemMode() const { return fSystemMode; }
	// The kind chosen at construction, eAllocator_FromBundle resolved to eAllocator_System or eAllocator_Velk.
	EAllocatorKind GetChosenKind() const { return fChosenKind; }

#ifdef VELK_TEST_HOOKS
	// Replaces the backend of a fresh manager that has handed out no block by the given arenas (taken over)
	// and switches it to arena mode.
	void _UseArenasForTesting(std::vector<IMemCppImpl*> arenas);
#endif

private:
	void _Init(EAllocatorKind kind, bool option1, bool option2);
	void _UseArenas(std::vector<IMemCppImpl*> arenas);
	bool _HasArenas() const { return !fArenas.empty(); }

	// One pass: the preferred arena, then the others in circular order from the current one, skipping the
	// arena being purged. The caller holds the lock or keeps other threads away.
	void* _MallocFromArenas(size_t size, bool flag, int32 tag, int32 preferredArena);
	// With the lock held by lock: marks arenaIndex as being purged, runs the handler with the lock
	// released, then ends the purge and wakes its waiters. False when the purge could not start.
	bool _Purge(std::unique_lock<std::recursive_mutex>& lock, int32 arenaIndex, int32 handlerArena, uint64 size,
				bool firstCall);
	// With the lock held by lock: waits, lock released, until the running purge ends.
	void _WaitForPurge(std::unique_lock<std::recursive_mutex>& lock);

	std::recursive_mutex fLock;
	VMemCppImpl_stdlib* fSystemBackend = nullptr;
	std::vector<IMemCppImpl*> fArenas;
	int32 fArenaCount = 0;
	int32 fRequestedArenaCount = 4;
	int32 fCurrentArena = 0;
	int32 fPurgingArena = -1;
	uint64 fLargestVirtualAllocation = 0;
	VSyncEvent* fPurgeEvent = nullptr;
	std::atomic<PurgeHandlerProc> fPurgeHandler{nullptr};
	uint64 fTotalSystemMemory = 0;
	bool fOption1 = false;
	bool fOption2 = false;
	bool fSystemMode = false;
	EAllocatorKind fChosenKind = eAllocator_System;
	VLeaksChecker fLeaksChecker;
	std::recursive_mutex fStatsLock;  // statistics dumps
	VChainOf<VDebugBlockInfoPool> fDebugBlockInfos;
	VCriticalSection fHogsLock;
	std::vector<VMemoryHog*> fMemHogs;

	// What AddVirtualAllocation obtained: the arenas keep it while the manager lives, and it goes back to the
	// system with the manager.
	struct VirtualAllocation
	{
		void* fMemory;
		size_t fSize;
		bool fPhysical;
	};
	std::vector<VirtualAllocation> fVirtualAllocations;
};

}  // namespace velk
