// Walking and removing a tree of about 50,000 entries (20 folders of 10 sub-folders of 249 empty files):
// VFolder::IterateFiles with recursion against std::filesystem's recursive iterator and fts(3), and
// VFolder::DeleteForced and VFolder::Delete(true) against `rm -rf` (the peer is run under both names, so that
// a filter on either kind of deletion keeps it). The walked tree is made once in $TMPDIR (else /tmp) and removed
// at exit; each deletion gets a fresh tree, made outside the timing.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <fts.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "BenchProcess.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VProcess.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kFolders = 20;
constexpr int kSubFolders = 10;
constexpr int kFiles = 249;
constexpr int64_t kFileCount = int64_t(kFolders) * kSubFolders * kFiles;

bool MakeTree(const std::string& root)
{
	if (mkdir(root.c_str(), 0755) != 0)
		return false;
	char name[64];
	for (int folder = 0; folder < kFolders; ++folder)
	{
		std::snprintf(name, sizeof(name), "/folder%02d", folder);
		const std::string top = root + name;
		if (mkdir(top.c_str(), 0755) != 0)
			return false;
		for (int sub = 0; sub < kSubFolders; ++sub)
		{
			std::snprintf(name, sizeof(name), "/sub%02d", sub);
			const std::string leaf = top + name;
			if (mkdir(leaf.c_str(), 0755) != 0)
				return false;
			for (int file = 0; file < kFiles; ++file)
			{
				std::snprintf(name, sizeof(name), "/file%03d.txt", file);
				const int descriptor = open((leaf + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
				if (descriptor < 0)
					return false;
				close(descriptor);
			}
		}
	}
	return true;
}

class Workspace
{
public:
	static Workspace& Get()
	{
		static Workspace sWorkspace;
		return sWorkspace;
	}

	std::string fWalked;  // the tree the walks read
	std::string fScratch;  // where the trees to delete are made
	std::string fProblem;

private:
	Workspace()
	{
		const char* folder = std::getenv("TMPDIR");
		std::string pattern = std::string(folder != nullptr && *folder != 0 ? folder : "/tmp") + "/velk-iteration-bench-XXXXXX";
		if (mkdtemp(pattern.data()) == nullptr)
		{
			fProblem = "cannot make a folder in the temporary folder";
			return;
		}
		fRoot = pattern;
		fWalked = fRoot + "/walked";
		fScratch = fRoot + "/scratch";
		if (!MakeTree(fWalked))
			fProblem = "cannot make the tree";
	}

	~Workspace()
	{
		if (!fRoot.empty())
			fs::remove_all(fRoot);
	}

	std::string fRoot;
};

velk::VRefPtr<velk::VFolder> FolderAt(const std::string& path)
{
	velk::VFilePath folderPath(velk::VString((path + "/").c_str()), velk::FPS_POSIX);
	return velk::VRefPtr<velk::VFolder>(new velk::VFolder(folderPath), true);
}

template <typename Walk>
void TimeWalks(benchmark::State& state, Walk walk)
{
	bench::EnsureProcess();
	Workspace& workspace = Workspace::Get();
	if (!workspace.fProblem.empty())
	{
		state.SkipWithError(workspace.fProblem.c_str());
		return;
	}
	for (auto _ : state)
	{
		const int64_t files = walk(workspace.fWalked);
		if (files != kFileCount)
		{
			state.SkipWithError("the walk did not see every file");
			return;
		}
	}
	state.SetItemsProcessed(state.iterations() * kFileCount);
}

void BM_FolderIteration_VelkIterateFiles(benchmark::State& state)
{
	TimeWalks(state, [](const std::string& root) {
		int64_t files = 0;
		FolderAt(root)->IterateFiles(
			[&files](velk::IFile*, velk::IFileAttributeAccessor*) {
				++files;
				return true;
			},
			velk::eFI_RECURSIVE | velk::eFI_FOLDERS);
		return files;
	});
}

void BM_FolderIteration_StdFilesystem(benchmark::State& state)
{
	TimeWalks(state, [](const std::string& root) {
		int64_t files = 0;
		for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
		{
			if (entry.is_regular_file())
				++files;
		}
		return files;
	});
}

void BM_FolderIteration_Fts(benchmark::State& state)
{
	TimeWalks(state, [](const std::string& root) {
		int64_t files = 0;
		char* paths[] = {const_cast<char*>(root.c_str()), nullptr};
		FTS* walk = fts_open(paths, FTS_PHYSICAL | FTS_NOCHDIR | FTS_NOSTAT, nullptr);
		if (walk == nullptr)
			return files;
		while (const FTSENT* entry = fts_read(walk))
		{
			if (entry->fts_info == FTS_F || entry->fts_info == FTS_NSOK)
				++files;
		}
		fts_close(walk);
		return files;
	});
}

bool RemoveWithRm(const std::string& path)
{
	char* argv[] = {const_cast<char*>("rm"), const_cast<char*>("-rf"), const_cast<char*>(path.c_str()), nullptr};
	pid_t child = 0;
	if (posix_spawn(&child, "/bin/rm", nullptr, nullptr, argv, environ) != 0)
		return false;
	int status = 0;
	return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

template <typename Remove>
void TimeDeletions(benchmark::State& state, Remove remove)
{
	bench::EnsureProcess();
	Workspace& workspace = Workspace::Get();
	if (!workspace.fProblem.empty())
	{
		state.SkipWithError(workspace.fProblem.c_str());
		return;
	}
	for (auto _ : state)
	{
		fs::remove_all(workspace.fScratch);
		if (!MakeTree(workspace.fScratch))
		{
			state.SkipWithError("cannot make the tree");
			return;
		}
		sync();
		const auto start = std::chrono::steady_clock::now();
		const bool removed = remove(workspace.fScratch);
		const auto end = std::chrono::steady_clock::now();
		state.SetIterationTime(std::chrono::duration<double>(end - start).count());
		if (!removed || fs::exists(workspace.fScratch))
		{
			state.SkipWithError("the tree was not removed");
			return;
		}
	}
}

void BM_FolderDeletion_VelkDeleteForced(benchmark::State& state)
{
	TimeDeletions(state, [](const std::string& path) { return FolderAt(path)->DeleteForced() == velk::VE_OK; });
}

void BM_FolderDeletion_RmRf(benchmark::State& state)
{
	TimeDeletions(state, [](const std::string& path) { return RemoveWithRm(path); });
}

void BM_FolderDelete_VelkDeleteWithContents(benchmark::State& state)
{
	TimeDeletions(state, [](const std::string& path) { return FolderAt(path)->Delete(true) == velk::VE_OK; });
}

void BM_FolderDelete_RmRf(benchmark::State& state)
{
	TimeDeletions(state, [](const std::string& path) { return RemoveWithRm(path); });
}

}  // namespace

BENCHMARK(BM_FolderIteration_VelkIterateFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderIteration_StdFilesystem)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderIteration_Fts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderDeletion_VelkDeleteForced)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderDeletion_RmRf)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderDelete_VelkDeleteWithContents)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderDelete_RmRf)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
