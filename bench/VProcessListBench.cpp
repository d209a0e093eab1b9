// Listing the machine's processes with 500 sleeping children of ours among them: the facade against a plain
// /proc walk with the same rule for ended processes, and against libproc2 when it is installed.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/VSystem.h"

#if VELK_BENCH_HAVE_LIBPROC2
#include <libproc2/pids.h>
#endif

namespace {

// The sleeping children, made once and ended at exit.
class Sleepers
{
public:
	static void Ensure()
	{
		static Sleepers sSleepers;
	}

private:
	Sleepers()
	{
		for (int i = 0; i < 500; ++i)
		{
			const pid_t pid = ::fork();
			if (pid == 0)
			{
				::pause();
				::_exit(0);
			}
			if (pid > 0)
				fChildren.push_back(pid);
		}
	}
	~Sleepers()
	{
		for (const pid_t pid : fChildren)
			::kill(pid, SIGKILL);
		for (const pid_t pid : fChildren)
			::waitpid(pid, nullptr, 0);
	}

	std::vector<pid_t> fChildren;
};

void BM_ProcessList_Velk(benchmark::State& state)
{
	Sleepers::Ensure();
	for (auto _ : state)
	{
		std::vector<int> pids;
		velk::VSystem::GetProcessList(pids);
		benchmark::DoNotOptimize(pids.data());
	}
}
BENCHMARK(BM_ProcessList_Velk)->Unit(benchmark::kMicrosecond);

// The same walk written plainly: every numeric entry whose stat does not show an ended process.
void BM_ProcessList_PlainWalk(benchmark::State& state)
{
	Sleepers::Ensure();
	for (auto _ : state)
	{
		std::vector<int> pids;
		DIR* directory = ::opendir("/proc");
		while (const dirent* entry = ::readdir(directory))
		{
			char* end = nullptr;
			const long pid = std::strtol(entry->d_name, &end, 10);
			if (end == entry->d_name || *end != 0)
				continue;
			const std::string path = std::string("/proc/") + entry->d_name + "/stat";
			const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
			if (fd < 0)
				continue;
			char stat[1024];
			const ssize_t count = ::read(fd, stat, sizeof(stat) - 1);
			::close(fd);
			if (count <= 0)
				continue;
			stat[count] = 0;
			const char* close = std::strrchr(stat, ')');
			if (close != nullptr && close[1] == ' ' && (close[2] == 'Z' || close[2] == 'X'))
				continue;
			pids.push_back(int(pid));
		}
		::closedir(directory);
		benchmark::DoNotOptimize(pids.data());
	}
}
BENCHMARK(BM_ProcessList_PlainWalk)->Unit(benchmark::kMicrosecond);

#if VELK_BENCH_HAVE_LIBPROC2
void BM_ProcessList_Libproc2(benchmark::State& state)
{
	Sleepers::Ensure();
	pids_item items[] = {PIDS_ID_PID, PIDS_STATE};
	pids_info* info = nullptr;
	if (procps_pids_new(&info, items, 2) < 0)
	{
		state.SkipWithError("libproc2 unavailable");
		return;
	}
	for (auto _ : state)
	{
		std::vector<int> pids;
		pids_fetch* fetched = procps_pids_reap(info, PIDS_FETCH_TASKS_ONLY);
		for (int i = 0; fetched != nullptr && i < fetched->counts->total; ++i)
		{
			const char processState = PIDS_VAL(1, s_ch, fetched->stacks[i], info);
			if (processState != 'Z' && processState != 'X')
				pids.push_back(PIDS_VAL(0, s_int, fetched->stacks[i], info));
		}
		benchmark::DoNotOptimize(pids.data());
	}
	procps_pids_unref(&info);
}
BENCHMARK(BM_ProcessList_Libproc2)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace
