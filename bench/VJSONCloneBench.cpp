// Deep copy of a parsed tree (citm_catalog, twitter, canada) side by side with nlohmann/json's copy and RapidJSON's
// CopyFrom. Ours remembers every container copied, so that shared references and cycles keep their shape;
// the others copy trees only. Throughput counts the file's bytes.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include "JSONWorkloads.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"

namespace {

using velk::VJSONValue;

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
const bool sRegistered = velk::bench::RegisterJSONWorkloads({"citm_catalog", "twitter", "canada"}, {
	{"Velk_Clone", BM_Velk_Clone},
	{"Nlohmann_Clone", BM_Nlohmann_Clone},
	{"RapidJSON_Clone", BM_RapidJSON_Clone},
});

}  // namespace
