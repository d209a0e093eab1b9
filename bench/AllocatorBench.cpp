// The memory manager's allocators compared on the same workloads: string building, value bags and a replayed
// malloc/free/realloc trace through VObject::sCppMemMgr, each on 1 and 4 threads. One program, run once per
// allocator by tools/run-alloc-bench: "--allocator=glibc", "jemalloc" or "mimalloc" (preloaded with
// LD_PRELOAD) behind the system backend, or "velk" from a bundle whose Info.plist asks for the toolbox
// arenas. It first checks that the allocator asked for is the one in effect and exits with 2 when it is not,
// so a preload that did not take or a bundle that was not honoured never passes for a measurement.
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "containers/StPackedDictionaryKey.h"
#include "containers/VValueBag.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace {

using velk::int32;
using velk::int64;
using velk::StPackedDictionaryKey;
using velk::UniChar;
using velk::VCppMemMgr;
using velk::VObject;
using velk::VString;
using velk::VValueBag;

// Set when a workload met a refused allocation: the run then ends with a non-zero status.
std::atomic<bool> gRefused{false};

void Refuse(benchmark::State& state, const char* what)
{
	gRefused.store(true);
	state.SkipWithError(what);
}

double PeakRSSMiB()
{
	rusage usage{};
	getrusage(RUSAGE_SELF, &usage);
	return double(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// The process's peak so far, once per run whatever the thread count (thread counters are summed).
void ReportPeakRSS(benchmark::State& state)
{
	if (state.thread_index() == 0)
		state.counters["peak_rss_MiB"] = PeakRSSMiB();
}

// splitmix64: the workloads are drawn once from a fixed seed, so every allocator replays the same ones.
uint64_t NextRandom(uint64_t& seed)
{
	uint64_t z = (seed += 0x9E3779B97F4A7C15ull);
	z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
	z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
	return z ^ (z >> 31);
}

// ---------------------------------------------------------------------------------------------------------
// Strings: each is built from 8 units, appended to in pieces of up to 32 units until it holds 8 to 300,
// copied (sharing the buffer) and the copy extended (unsharing it); the copy is kept in a small ring so that
// strings die in another order than they were born.

constexpr int32 kMaxStringLength = 300;
constexpr size_t kStringsPerRound = 64;
constexpr size_t kKeptStrings = 16;

struct StringWorkload
{
	std::u16string fText;
	std::vector<int32> fLengths;
};

const StringWorkload& GetStringWorkload()
{
	static const StringWorkload workload = []
	{
		StringWorkload made;
		const std::u16string piece = u"Lorem ipsum dolor sit amet, d\u00E9j\u00E0 vu \u6F22\u5B57 ";
		while (made.fText.size() < size_t(kMaxStringLength))
			made.fText += piece;
		uint64_t seed = 1;
		for (size_t i = 0; i < kStringsPerRound; ++i)
			made.fLengths.push_back(8 + int32(NextRandom(seed) % uint64_t(kMaxStringLength - 8 + 1)));
		return made;
	}();
	return workload;
}

void BM_StringLifecycle(benchmark::State& state)
{
	const StringWorkload& workload = GetStringWorkload();
	const UniChar* text = reinterpret_cast<const UniChar*>(workload.fText.data());
	std::vector<VString> kept(kKeptStrings);
	bool grown = true;
	for (auto _ : state)
	{
		for (size_t i = 0; grown && i < kStringsPerRound; ++i)
		{
			const int32 length = workload.fLengths[i];
			VString built(text, 8);
			for (int32 done = 8; done < length; done += 32)
				built.AppendUniChars(text + done, std::min(32, length - done));
			VString copy(built);
			copy.AppendUniChar(u'.');
			grown = copy.GetLength() == length + 1;
			kept[(i * 7) % kKeptStrings] = std::move(copy);
		}
		if (!grown)
		{
			Refuse(state, "a string could not grow");
			break;
		}
	}
	ReportPeakRSS(state);
	state.SetItemsProcessed(state.iterations() * int64_t(kStringsPerRound));
}
BENCHMARK(BM_StringLifecycle)->Threads(1)->Threads(4)->UseRealTime();

// ---------------------------------------------------------------------------------------------------------
// Value bags: a bag of 12 attributes (numbers, reals, booleans, texts) holding 6 "entry" bags of 4 attributes
// with 2 "detail" bags each, and 3 "option" bags: 22 bags, built, cloned and both released.

struct BagWorkload
{
	StPackedDictionaryKey fAttributes[12] = {"id", "name", "ratio", "enabled", "count", "path",
											 "weight", "hidden", "size", "kind", "scale", "visible"};
	StPackedDictionaryKey fChildAttributes[4] = {"index", "label", "value", "flag"};
	StPackedDictionaryKey fEntry{"entry"};
	StPackedDictionaryKey fDetail{"detail"};
	StPackedDictionaryKey fOption{"option"};
	std::vector<VString> fTexts;
};

const BagWorkload& GetBagWorkload()
{
	static const BagWorkload workload = []
	{
		BagWorkload made;
		const VString source("/Users/shared/Documents/Project files/report-2024.final.version");
		for (int32 length = 8; length <= 48; length += 5)
			made.fTexts.push_back(VString(source.GetCPointer(), length));
		return made;
	}();
	return workload;
}

// Sets count attributes of the bag to values of the four kinds in turn; false when one could not be set.
bool FillBag(VValueBag& bag, const StPackedDictionaryKey* keys, size_t count, const BagWorkload& workload, int64 seed)
{
	bool done = true;
	for (size_t i = 0; i < count; ++i)
	{
		const int64 value = seed + int64(i);
		switch (i % 4)
		{
			case 0: done &= bag.SetLong8(keys[i], value); break;
			case 1: done &= bag.SetString(keys[i], workload.fTexts[size_t(value) % workload.fTexts.size()]); break;
			case 2: done &= bag.SetReal(keys[i], double(value) * 0.25); break;
			default: done &= bag.SetBool(keys[i], (value & 1) != 0); break;
		}
	}
	return done;
}

// Adds a new bag of count attributes under key and answers it (held by the parent only); null on failure.
VValueBag* AddChild(VValueBag& parent, const StPackedDictionaryKey& key, size_t count, const BagWorkload& workload,
					int64 seed)
{
	VValueBag* child = new VValueBag;
	const bool done = FillBag(*child, workload.fChildAttributes, count, workload, seed) && parent.AddElement(key, child);
	child->Release();
	return done ? child : nullptr;
}

// The tree described above, owned by the caller; null when a part could not be made.
VValueBag* BuildBag(const BagWorkload& workload)
{
	VValueBag* bag = new VValueBag;
	bool done = FillBag(*bag, workload.fAttributes, 12, workload, 0);
	for (int64 e = 0; done && e < 6; ++e)
	{
		VValueBag* entry = AddChild(*bag, workload.fEntry, 4, workload, e);
		for (int64 d = 0; entry != nullptr && d < 2; ++d)
			done &= AddChild(*entry, workload.fDetail, 2, workload, e + d) != nullptr;
		done &= entry != nullptr;
	}
	for (int64 o = 0; done && o < 3; ++o)
		done &= AddChild(*bag, workload.fOption, 3, workload, o) != nullptr;
	if (!done)
	{
		bag->Release();
		return nullptr;
	}
	return bag;
}

void BM_BagLifecycle(benchmark::State& state)
{
	const BagWorkload& workload = GetBagWorkload();
	for (auto _ : state)
	{
		VValueBag* bag = BuildBag(workload);
		VValueBag* clone = bag != nullptr ? static_cast<VValueBag*>(bag->Clone()) : nullptr;
		const bool done = clone != nullptr && clone->GetElementNamesCount() == 2;
		if (clone != nullptr)
			clone->Release();
		if (bag != nullptr)
			bag->Release();
		if (!done)
		{
			Refuse(state, "a bag could not be built or cloned");
			break;
		}
	}
	ReportPeakRSS(state);
	state.SetItemsProcessed(state.iterations() * 2);  // bags built and cloned
}
BENCHMARK(BM_BagLifecycle)->Threads(1)->Threads(4)->UseRealTime();

// ---------------------------------------------------------------------------------------------------------
// Raw trace through the memory manager: 1024 slots, 16384 draws. A draw on an empty slot allocates; on a
// held one it frees (60%) or resizes (40%). Sizes: 70% from 1 to 255 bytes, 25% from 256 to 8191, 5% from
// 8 KiB to 2 MiB. Everything still held at the end is freed, so each replay starts from nothing. Each block
// is written at its start and its end, as a user would, without paying to fill megabytes.

enum class ETraceOp : uint8_t
{
	kMalloc,
	kRealloc,
	kFree
};

struct TraceStep
{
	uint32_t fSlot;
	uint32_t fSize;
	ETraceOp fOp;
};

constexpr uint32_t kTraceSlots = 1024;
constexpr size_t kTraceDraws = 16384;
constexpr int32 kTraceTag = int32(velk::FourCharCode("trce"));

uint32_t DrawTraceSize(uint64_t& seed)
{
	const uint64_t band = NextRandom(seed) % 100;
	const uint64_t r = NextRandom(seed);
	if (band < 70)
		return uint32_t(1 + r % 255);
	if (band < 95)
		return uint32_t(256 + r % (8192 - 256));
	return uint32_t(8192 + r % (2 * 1024 * 1024 - 8192 + 1));
}

const std::vector<TraceStep>& GetTrace()
{
	static const std::vector<TraceStep> trace = []
	{
		std::vector<TraceStep> made;
		std::vector<bool> held(kTraceSlots, false);
		uint64_t seed = 2;
		for (size_t i = 0; i < kTraceDraws; ++i)
		{
			const uint32_t slot = uint32_t(NextRandom(seed) % kTraceSlots);
			if (!held[slot])
				made.push_back({slot, DrawTraceSize(seed), ETraceOp::kMalloc});
			else if (NextRandom(seed) % 10 < 6)
				made.push_back({slot, 0, ETraceOp::kFree});
			else
				made.push_back({slot, DrawTraceSize(seed), ETraceOp::kRealloc});
			held[slot] = made.back().fOp != ETraceOp::kFree;
		}
		for (uint32_t slot = 0; slot < kTraceSlots; ++slot)
		{
			if (held[slot])
				made.push_back({slot, 0, ETraceOp::kFree});
		}
		return made;
	}();
	return trace;
}

void Touch(char* block, uint32_t size, char mark)
{
	std::memset(block, mark, std::min<uint32_t>(size, 64));
	block[size - 1] = mark;
}

void BM_MemMgrTrace(benchmark::State& state)
{
	const std::vector<TraceStep>& trace = GetTrace();
	VCppMemMgr* manager = VObject::sCppMemMgr;
	std::vector<char*> blocks(kTraceSlots, nullptr);
	for (auto _ : state)
	{
		for (const TraceStep& step : trace)
		{
			char*& block = blocks[step.fSlot];
			if (step.fOp == ETraceOp::kFree)
			{
				manager->Free(block);
				block = nullptr;
				continue;
			}
			void* got = step.fOp == ETraceOp::kMalloc ? manager->Malloc(step.fSize, false, kTraceTag, -1)
													  : manager->Realloc(block, step.fSize);
			if (got == nullptr)
				break;
			block = static_cast<char*>(got);
			Touch(block, step.fSize, char(step.fSlot));
		}
		// A refused request leaves blocks held: give them back before saying so.
		bool refused = false;
		for (char*& block : blocks)
		{
			refused |= block != nullptr;
			manager->Free(block);
			block = nullptr;
		}
		if (refused)
		{
			Refuse(state, "the memory manager refused a request of the trace");
			break;
		}
	}
	ReportPeakRSS(state);
	state.SetItemsProcessed(state.iterations() * int64_t(trace.size()));
}
BENCHMARK(BM_MemMgrTrace)->Threads(1)->Threads(4)->UseRealTime();

// ---------------------------------------------------------------------------------------------------------
// Which allocator is in effect.

struct AllocatorMode
{
	const char* fName;
	const char* fMallocLibrary;	 // part of the file name of the library that must provide malloc
	const char* fDescription;
	bool fArenas;
};

constexpr AllocatorMode kModes[] = {
	{"glibc", "/libc.so", "glibc malloc behind the memory manager's system backend", false},
	{"jemalloc", "/libjemalloc.so", "jemalloc (LD_PRELOAD) behind the memory manager's system backend", false},
	{"mimalloc", "/libmimalloc.so", "mimalloc (LD_PRELOAD) behind the memory manager's system backend", false},
	{"velk", "/libc.so",
	 "the toolbox arenas of the memory manager (bundle \"MemoryAllocator\" = \"velk\"); objects made by new "
	 "still come from glibc",
	 true},
};

// The file of the library whose malloc the program's calls reach.
std::string GetMallocProvider()
{
	void* symbol = dlsym(RTLD_DEFAULT, "malloc");
	Dl_info info{};
	if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr)
		return std::string();
	return info.dli_fname;
}

// The preloadable allocators mapped into the process, as "jemalloc mimalloc".
std::string GetMappedAllocators()
{
	std::ifstream maps("/proc/self/maps");
	std::string line;
	bool jemalloc = false;
	bool mimalloc = false;
	while (std::getline(maps, line))
	{
		jemalloc |= line.find("/libjemalloc.so") != std::string::npos;
		mimalloc |= line.find("/libmimalloc.so") != std::string::npos;
	}
	std::string mapped = jemalloc ? "jemalloc" : "";
	if (mimalloc)
		mapped += mapped.empty() ? "mimalloc" : " mimalloc";
	return mapped;
}

std::string GetExecutablePath()
{
	char path[4096];
	const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
	return length > 0 ? std::string(path, size_t(length)) : std::string("?");
}

// Answers "" when the mode is in effect, otherwise what is in effect instead.
std::string CheckAllocator(const AllocatorMode& mode, const std::string& provider)
{
	const VCppMemMgr* manager = VObject::sCppMemMgr;
	if (manager == nullptr)
		return "the process has no memory manager";
	if (provider.find(mode.fMallocLibrary) == std::string::npos)
		return "malloc comes from \"" + provider + "\", not from a library named like \"" + mode.fMallocLibrary +
			   "\" (LD_PRELOAD is \"" + (std::getenv("LD_PRELOAD") != nullptr ? std::getenv("LD_PRELOAD") : "") + "\")";
	const std::string mapped = GetMappedAllocators();
	const bool preloaded = std::strcmp(mode.fName, "jemalloc") == 0 || std::strcmp(mode.fName, "mimalloc") == 0;
	if (mapped != (preloaded ? mode.fName : ""))
		return "the allocators mapped into the process are \"" + mapped + "\"";
	if (mode.fArenas && (manager->IsSystemMode() || manager->GetChosenKind() != velk::eAllocator_Velk))
		return "the memory manager uses the system backend, not the toolbox arenas (executable " +
			   GetExecutablePath() + "; is it inside a bundle whose Info.plist says \"MemoryAllocator\" = \"velk\"?)";
	if (!mode.fArenas && (!manager->IsSystemMode() || manager->GetChosenKind() != velk::eAllocator_System))
		return "the memory manager does not use its system backend";
	return std::string();
}

}  // namespace

int main(int argc, char** argv)
{
	// Our own argument is taken out before the benchmark library reads the rest.
	std::string wanted;
	int kept = 1;
	for (int i = 1; i < argc; ++i)
	{
		if (std::strncmp(argv[i], "--allocator=", 12) == 0)
			wanted = argv[i] + 12;
		else
			argv[kept++] = argv[i];
	}
	argc = kept;

	const AllocatorMode* mode = nullptr;
	for (const AllocatorMode& candidate : kModes)
	{
		if (wanted == candidate.fName)
			mode = &candidate;
	}
	if (mode == nullptr)
	{
		std::fprintf(stderr, "velk_alloc_bench: give --allocator=glibc, jemalloc, mimalloc or velk\n");
		return 2;
	}
	const std::string provider = GetMallocProvider();
	const std::string problem = CheckAllocator(*mode, provider);
	if (!problem.empty())
	{
		std::fprintf(stderr, "velk_alloc_bench: asked to measure %s, but %s\n", mode->fName, problem.c_str());
		return 2;
	}
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 2;
	benchmark::AddCustomContext("allocator", mode->fName);
	benchmark::AddCustomContext("allocator_detail", mode->fDescription);
	benchmark::AddCustomContext("malloc_from", provider);
	if (mode->fArenas)
	{
		// What the process registered for its arenas before main: the workloads run within it, as an
		// application would.
		velk::uint64 total = 0;
		velk::uint64 used = 0;
		VObject::sCppMemMgr->GetMemUsageInfo(total, used);
		benchmark::AddCustomContext("arena_memory", std::to_string(total >> 20) + " MiB in " +
														std::to_string(VObject::sCppMemMgr->CountVirtualAllocations()) + " chunks");
	}
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	std::fprintf(stderr, "velk_alloc_bench: %s: peak RSS %.1f MiB\n", mode->fName, PeakRSSMiB());
	return gRefused.load() ? 1 : 0;
}
