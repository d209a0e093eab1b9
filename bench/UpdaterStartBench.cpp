// The updater's whole start and end for `--version` (loading, the toolbox's start-up, the command line,
// shut-down), against the smallest program spawned and waited for the same way.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <vector>

extern char** environ;

namespace {

void SpawnAndWait(benchmark::State& state, const char* program, std::vector<const char*> arguments)
{
	arguments.insert(arguments.begin(), program);
	arguments.push_back(nullptr);
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
	for (auto _ : state)
	{
		pid_t pid = 0;
		if (posix_spawn(&pid, program, &actions, nullptr, const_cast<char**>(arguments.data()), environ) != 0)
		{
			state.SkipWithError("cannot start the program");
			break;
		}
		int status = 0;
		waitpid(pid, &status, 0);
		if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
		{
			state.SkipWithError("the program failed");
			break;
		}
	}
	posix_spawn_file_actions_destroy(&actions);
}

void BM_UpdaterVersion(benchmark::State& state)
{
	SpawnAndWait(state, VELK_BENCH_UPDATER, {"--version"});
}
BENCHMARK(BM_UpdaterVersion)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TrueProgram(benchmark::State& state)
{
	SpawnAndWait(state, "/bin/true", {});
}
BENCHMARK(BM_TrueProgram)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
