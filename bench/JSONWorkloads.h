// The shared JSON workloads the benchmarks read where they stand beside the repository, and the registration
// of one benchmark per runner and workload found; a clone without the data registers none.
#pragma once

#include <benchmark/benchmark.h>

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

namespace velk::bench {

// The workload's bytes, or empty when the shared data is absent.
inline std::string ReadJSONWorkload(const std::string& name)
{
	std::ifstream file(std::string(VELK_BENCH_JSON_DIR) + "/" + name + ".json", std::ios::binary);
	if (!file)
		return {};
	return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

using JSONRunner = void (*)(benchmark::State&, const std::string&);

// "BM_JSON_<runner>/<workload>" for each runner over each workload that could be read. manualTime: the
// runners time each iteration themselves (State::SetIterationTime), over a fixed count of iterations, since
// a timed part far shorter than the untimed work around it would otherwise take minutes to add up.
inline bool RegisterJSONWorkloads(std::initializer_list<const char*> workloads,
	std::initializer_list<std::pair<const char*, JSONRunner>> runners, bool manualTime = false)
{
	for (const char* workload : workloads)
	{
		const std::shared_ptr<const std::string> bytes = std::make_shared<const std::string>(ReadJSONWorkload(workload));
		if (bytes->empty())
			continue;
		for (const auto& [name, runner] : runners)
		{
			benchmark::internal::Benchmark* registered = benchmark::RegisterBenchmark(
				(std::string("BM_JSON_") + name + "/" + workload).c_str(),
				[bytes, run = runner](benchmark::State& state) { run(state, *bytes); });
			registered->Unit(benchmark::kMillisecond);
			if (manualTime)
				registered->UseManualTime()->Iterations(200);
		}
	}
	return true;
}

}  // namespace velk::bench
