// Deep copy of a parsed tree (citm_catalog, twitter) side by side with nlohmann/json's copy and RapidJSON's
// CopyFrom. Ours remembers every container copied, so that shared references and cycles keep their shape;
// the others copy trees only. Throughput counts the file's bytes.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include "kernel/intl/VTextConverters.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"

namespace {

using velk::VJSONValue;

const char* const kWorkloads[] = {"citm_catalog", "twitter"};

// The file's bytes, or empty when the shared data is not beside the repository.
std::string ReadWorkload(const std::string& name)
{
	std::ifstream file(std::string(VELK_BENCH_JSON_DIR) + "/" + name + ".json", std::ios::binary);
	if (!file)
		return {};
	return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void BM_Velk_Clone(benchmark::State& state, const std::string& bytes)
{
	velk::VString text;
	velk::VTextConverters::Get()->ConvertToVString(bytes.data(), bytes.size(), 7, text);
	VJSONValue source;
	if (source.ParseFromString(text) != 0)
	{
		state.SkipWithError("the text parser refused the workload");
		return;
	}
	for (auto _ : state)
	{
		VJSONValue copy = source;
		velk::VJSONCloner cloner;
		if (cloner.CloneValue(copy) != 0)
		{
			state.SkipWithError("the copy failed");
			break;
		}
		benchmark::DoNotOptimize(copy);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_Nlohmann_Clone(benchmark::State& state, const std::string& bytes)
{
	const nlohmann::json source = nlohmann::json::parse(bytes, nullptr, false);
	for (auto _ : state)
	{
		nlohmann::json copy = source;
		benchmark::DoNotOptimize(copy);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_RapidJSON_Clone(benchmark::State& state, const std::string& bytes)
{
	rapidjson::Document source;
	source.Parse(bytes.c_str());
	for (auto _ : state)
	{
		// The parsed strings are owned by the source's allocator, so the copy copies them too.
		rapidjson::Document copy;
		copy.CopyFrom(source, copy.GetAllocator());
		benchmark::DoNotOptimize(copy);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

// Registers the copies of every workload found; none when the shared data is absent.
const bool sRegistered = [] {
	using Runner = void (*)(benchmark::State&, const std::string&);
	const std::pair<const char*, Runner> runners[] = {
		{"Velk_Clone", BM_Velk_Clone},
		{"Nlohmann_Clone", BM_Nlohmann_Clone},
		{"RapidJSON_Clone", BM_RapidJSON_Clone},
	};
	for (const char* workload : kWorkloads)
	{
		const std::shared_ptr<const std::string> bytes = std::make_shared<const std::string>(ReadWorkload(workload));
		if (bytes->empty())
			continue;
		for (const auto& [name, runner] : runners)
		{
			benchmark::RegisterBenchmark((std::string("BM_JSON_") + name + "/" + workload).c_str(),
				[bytes, run = runner](benchmark::State& state) { run(state, *bytes); })
				->Unit(benchmark::kMillisecond);
		}
	}
	return true;
}();

}  // namespace
