// A bag written as compact JSON text against nlohmann's dump() of the same tree: the shared workloads are
// read once into a bag, and nlohmann's tree is parsed from the bag's own text, so both write the same
// properties in the same order.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "JSONWorkloads.h"
#include "containers/VValueBag.h"
#include "kernel/strings/VString.h"

namespace {

using velk::VString;
using velk::VValueBag;

constexpr velk::CharSet kUTF8 = 7;

// The workload read into a new bag (one reference for the caller).
VValueBag* ReadBag(const std::string& bytes)
{
	VString text;
	text.FromBlock(bytes.data(), bytes.size(), kUTF8);
	VValueBag* bag = new VValueBag();
	bag->FromJSONString(text);
	return bag;
}

void BM_Velk_BagToJSON(benchmark::State& state, const std::string& bytes)
{
	VValueBag* bag = ReadBag(bytes);
	VString json;
	for (auto _ : state)
	{
		bag->GetJSONString(json, 0);
		benchmark::DoNotOptimize(json.GetCPointer());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(json.GetLength()) * 2);
	bag->Release();
}

void BM_Nlohmann_BagToJSON(benchmark::State& state, const std::string& bytes)
{
	VValueBag* bag = ReadBag(bytes);
	VString json;
	bag->GetJSONString(json, 0);
	bag->Release();
	std::string utf8(size_t(json.GetLength()) * 3 + 1, '\0');
	utf8.resize(json.ToBlock(utf8.data(), utf8.size(), kUTF8, false, false));
	const nlohmann::json tree = nlohmann::json::parse(utf8);
	std::string out;
	for (auto _ : state)
	{
		out = tree.dump();
		benchmark::DoNotOptimize(out.data());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
}

const bool sRegistered = velk::bench::RegisterJSONWorkloads({"twitter", "citm_catalog"}, {
	{"Velk_BagToJSON", BM_Velk_BagToJSON},
	{"Nlohmann_BagToJSON", BM_Nlohmann_BagToJSON},
});

}  // namespace
