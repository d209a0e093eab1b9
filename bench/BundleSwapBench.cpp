// Swapping an application bundle of about 500 MB in about 5,000 files (versioned framework links, many small
// resources, a few large binaries) for its up-to-date copy, against `cp -a` of the same tree into the same
// folder, on a warm cache. The swap copies into a staging folder, flushes the file system and exchanges the
// two folders: the flush is also timed on its own, and a watcher thread measures the longest moment in
// which nothing stands at the application's place (counter "absent_us"); the two renames that stand in for
// the exchange where a file system has none are timed as well. Between runs, outside the timing, the copy is removed, the old bundle gets its
// name back and the disk is synced. The trees are made once in $TMPDIR (else /tmp) and removed at exit.

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchTools.h"
#include "BenchProcess.h"
#include "files/VFolder.h"
#include "kernel/memory/VRefPtr.h"
#include "updater/VBundleSwap.h"
#include "updater/mac/XPosixBundleSwap.h"

namespace {

namespace fs = std::filesystem;

uint64_t sState = 0x9E3779B97F4A7C15ull;

uint64_t NextRandom()
{
	sState ^= sState << 13;
	sState ^= sState >> 7;
	sState ^= sState << 17;
	return sState;
}

void WriteFile(const std::string& path, size_t size, mode_t mode)
{
	static std::string buffer;
	buffer.resize(size);
	for (size_t i = 0; i + 8 <= size; i += 8)
	{
		const uint64_t word = NextRandom();
		std::memcpy(&buffer[i], &word, 8);
	}
	std::ofstream(path, std::ios::binary).write(buffer.data(), std::streamsize(size));
	chmod(path.c_str(), mode);
}

// An application with versioned frameworks: 40 MB executable, five 50 MB libraries, small headers and
// resources up to 5,000 files.
void MakeBundle(const std::string& root, int files)
{
	const std::string contents = root + "/Contents";
	fs::create_directories(contents + "/MacOS");
	WriteFile(contents + "/Info.plist", 2048, 0644);
	WriteFile(contents + "/MacOS/App", files >= 5000 ? (40u << 20) : 4096, 0755);
	int made = 2;
	for (int f = 0; f < 8 && made < files; ++f)
	{
		const std::string framework = contents + "/Frameworks/Lib" + std::to_string(f) + ".framework";
		const std::string version = framework + "/Versions/A";
		fs::create_directories(version + "/Headers");
		WriteFile(version + "/Lib" + std::to_string(f), files >= 5000 ? (f < 5 ? (50u << 20) : (2u << 20)) : 4096, 0755);
		fs::create_symlink("A", framework + "/Versions/Current");
		fs::create_symlink("Versions/Current/Lib" + std::to_string(f), framework + "/Lib" + std::to_string(f));
		fs::create_symlink("Versions/Current/Headers", framework + "/Headers");
		for (int h = 0; h < 60 && made < files; ++h, ++made)
			WriteFile(version + "/Headers/H" + std::to_string(h) + ".h", 512 + NextRandom() % 8192, 0644);
	}
	for (int l = 0; made < files; ++l)
	{
		const std::string folder = contents + "/Resources/l" + std::to_string(l) + ".lproj";
		fs::create_directories(folder);
		for (int r = 0; r < 50 && made < files; ++r, ++made)
			WriteFile(folder + "/Image" + std::to_string(r) + ".png", 1024 + NextRandom() % 98304, 0644);
	}
}

velk::VRefPtr<velk::VFolder> FolderAt(const std::string& path)
{
	return velk::VRefPtr<velk::VFolder>(new velk::VFolder(velk::VFilePath(velk::VString((path + "/").c_str()), velk::FPS_POSIX)), true);
}

// The up-to-date bundle, the outdated one at its place and the folder both copies go to.
class Bundles
{
public:
	static Bundles& Get()
	{
		static Bundles sBundles;
		return sBundles;
	}

	std::string fUpToDate;
	std::string fOutdated;
	std::string fOld;  // where the swap puts the outdated bundle
	std::string fCopy;  // where `cp -a` copies
	std::string fProblem;

private:
	Bundles()
	{
		fRoot = bench::MakeTemporaryFolder("velk-swap-bench");
		if (fRoot.empty())
		{
			fProblem = "cannot make a folder in the temporary folder";
			return;
		}
		fUpToDate = fRoot + "/Source/Name.app";
		fOutdated = fRoot + "/Install/Name.app";
		fOld = fRoot + "/Install/Name_old0001.app";
		fCopy = fRoot + "/Install/Copy.app";
		MakeBundle(fUpToDate, 5000);
		MakeBundle(fOutdated, 500);
		sync();
	}

	~Bundles()
	{
		if (!fRoot.empty())
			fs::remove_all(fRoot);
	}

	std::string fRoot;
};

void BM_BundleSwap_Velk(benchmark::State& state)
{
	bench::EnsureProcess();
	Bundles& bundles = Bundles::Get();
	if (!bundles.fProblem.empty())
	{
		state.SkipWithError(bundles.fProblem.c_str());
		return;
	}
	const velk::VRefPtr<velk::VFolder> outdated = FolderAt(bundles.fOutdated);
	const velk::VRefPtr<velk::VFolder> upToDate = FolderAt(bundles.fUpToDate);
	double longestAbsence = 0;
	for (auto _ : state)
	{
		// Watches the place the whole time: any moment at which lstat finds nothing there counts.
		std::atomic<bool> watching{true};
		std::thread watcher([&] {
			using Clock = std::chrono::steady_clock;
			Clock::time_point absentSince{};
			bool absent = false;
			struct stat status;
			while (watching.load(std::memory_order_relaxed))
			{
				const bool there = ::lstat(bundles.fOutdated.c_str(), &status) == 0;
				const Clock::time_point now = Clock::now();
				if (!there && !absent)
				{
					absent = true;
					absentSince = now;
				}
				else if (there && absent)
				{
					absent = false;
					longestAbsence = std::max(longestAbsence, std::chrono::duration<double, std::micro>(now - absentSince).count());
				}
			}
		});
		const auto start = std::chrono::steady_clock::now();
		velk::VRefPtr<velk::VFolder> old(velk::_SwapApplications(*outdated, *upToDate, *outdated), true);
		const auto end = std::chrono::steady_clock::now();
		watching.store(false);
		watcher.join();
		state.SetIterationTime(std::chrono::duration<double>(end - start).count());
		state.counters["absent_us"] = longestAbsence;
		if (!old)
		{
			state.SkipWithError("the swap failed");
			return;
		}
		fs::remove_all(bundles.fOutdated);
		fs::rename(bundles.fOld, bundles.fOutdated);
		sync();
	}
}

// The flush the swap does once its staging copy is complete: syncfs after a fresh copy of the tree.
void BM_BundleSwap_Flush(benchmark::State& state)
{
	Bundles& bundles = Bundles::Get();
	if (!bundles.fProblem.empty())
	{
		state.SkipWithError(bundles.fProblem.c_str());
		return;
	}
	for (auto _ : state)
	{
		if (!bench::RunProgram({"cp", "-a", bundles.fUpToDate, bundles.fCopy}))
		{
			state.SkipWithError("cp -a failed");
			return;
		}
		const velk::VRefPtr<velk::VFolder> copy = FolderAt(bundles.fCopy);
		const auto start = std::chrono::steady_clock::now();
		const velk::VError flushed = velk::XPosixBundleSwap::SyncFileSystem(copy->GetPath());
		const auto end = std::chrono::steady_clock::now();
		state.SetIterationTime(std::chrono::duration<double>(end - start).count());
		fs::remove_all(bundles.fCopy);
		sync();
		if (flushed != velk::VE_OK)
		{
			state.SkipWithError("syncfs failed");
			return;
		}
	}
}

// Without an exchange the place is empty between the rename aside and the rename in: their time together.
void BM_BundleSwap_RenamePairWithoutExchange(benchmark::State& state)
{
	Bundles& bundles = Bundles::Get();
	if (!bundles.fProblem.empty())
	{
		state.SkipWithError(bundles.fProblem.c_str());
		return;
	}
	const std::string staging = bundles.fCopy;
	fs::create_directories(staging + "/Contents");
	for (auto _ : state)
	{
		const auto start = std::chrono::steady_clock::now();
		const bool aside = ::rename(bundles.fOutdated.c_str(), bundles.fOld.c_str()) == 0;
		const bool in = aside && ::rename(staging.c_str(), bundles.fOutdated.c_str()) == 0;
		const auto end = std::chrono::steady_clock::now();
		state.SetIterationTime(std::chrono::duration<double>(end - start).count());
		if (in)
			::rename(bundles.fOutdated.c_str(), staging.c_str());
		if (aside)
			::rename(bundles.fOld.c_str(), bundles.fOutdated.c_str());
		if (!in)
		{
			state.SkipWithError("rename failed");
			break;
		}
	}
	fs::remove_all(staging);
}

void BM_BundleSwap_CpArchive(benchmark::State& state)
{
	Bundles& bundles = Bundles::Get();
	if (!bundles.fProblem.empty())
	{
		state.SkipWithError(bundles.fProblem.c_str());
		return;
	}
	for (auto _ : state)
	{
		const auto start = std::chrono::steady_clock::now();
		const bool copied = bench::RunProgram({"cp", "-a", bundles.fUpToDate, bundles.fCopy});
		const auto end = std::chrono::steady_clock::now();
		state.SetIterationTime(std::chrono::duration<double>(end - start).count());
		fs::remove_all(bundles.fCopy);
		sync();
		if (!copied)
		{
			state.SkipWithError("cp -a failed");
			return;
		}
	}
}

}  // namespace

BENCHMARK(BM_BundleSwap_Velk)->UseManualTime()->Iterations(1)->Repetitions(7)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BundleSwap_CpArchive)->UseManualTime()->Iterations(1)->Repetitions(7)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BundleSwap_Flush)->UseManualTime()->Iterations(1)->Repetitions(7)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BundleSwap_RenamePairWithoutExchange)->UseManualTime()->Iterations(1000)->Unit(benchmark::kMicrosecond);
