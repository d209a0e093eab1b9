// Bags against the containers a program would otherwise use for named values: std::unordered_map with
// std::string keys and a nlohmann::json object. Attribute reads of the stored kind, in-place replacement
// and reads on bags of 4 attributes (the common log message or error) and 1,000, building a bag of 10
// attributes, and element lists (10 names of 100 bags each). Bag keys are made once, as the static key
// objects of real callers are; map keys likewise.
#include <benchmark/benchmark.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "containers/StPackedDictionaryKey.h"
#include "containers/VValueBag.h"

namespace {

using velk::int64;
using velk::StPackedDictionaryKey;
using velk::VValueBag;

struct Names
{
	std::vector<std::string> fTexts;
	std::vector<StPackedDictionaryKey> fKeys;
};

const Names& GetNames(int64_t count)
{
	static std::unordered_map<int64_t, std::unique_ptr<Names>> cache;
	std::unique_ptr<Names>& names = cache[count];
	if (names == nullptr)
	{
		names = std::make_unique<Names>();
		names->fTexts.reserve(size_t(count));
		for (int64_t i = 0; i < count; ++i)
			names->fTexts.push_back("attr" + std::to_string(i));
		names->fKeys.reserve(size_t(count));
		for (const std::string& text : names->fTexts)
			names->fKeys.emplace_back(text.c_str());
	}
	return *names;
}

VValueBag* MakeBag(const Names& names)
{
	VValueBag* bag = new VValueBag();
	for (size_t i = 0; i < names.fKeys.size(); ++i)
		bag->SetLong8(names.fKeys[i], int64(i));
	return bag;
}

std::unordered_map<std::string, int64> MakeMap(const Names& names)
{
	std::unordered_map<std::string, int64> map;
	for (size_t i = 0; i < names.fTexts.size(); ++i)
		map[names.fTexts[i]] = int64(i);
	return map;
}

nlohmann::json MakeJSON(const Names& names)
{
	nlohmann::json json = nlohmann::json::object();
	for (size_t i = 0; i < names.fTexts.size(); ++i)
		json[names.fTexts[i]] = int64(i);
	return json;
}

// ---------------------------------------------------------------------------------------------------------
// Reading every attribute as the kind it is stored as

void BM_BagGet(benchmark::State& state)
{
	const Names& names = GetNames(state.range(0));
	VValueBag* bag = MakeBag(names);
	for (auto _ : state)
	{
		int64 sum = 0;
		for (const StPackedDictionaryKey& key : names.fKeys)
		{
			int64 value = 0;
			bag->GetLong8(key, value);
			sum += value;
		}
		benchmark::DoNotOptimize(sum);
	}
	bag->Release();
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_MapGet(benchmark::State& state)
{
	const Names& names = GetNames(state.range(0));
	const std::unordered_map<std::string, int64> map = MakeMap(names);
	for (auto _ : state)
	{
		int64 sum = 0;
		for (const std::string& name : names.fTexts)
		{
			const auto found = map.find(name);
			if (found != map.end())
				sum += found->second;
		}
		benchmark::DoNotOptimize(sum);
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_JSONGet(benchmark::State& state)
{
	const Names& names = GetNames(state.range(0));
	const nlohmann::json json = MakeJSON(names);
	for (auto _ : state)
	{
		int64 sum = 0;
		for (const std::string& name : names.fTexts)
		{
			const auto found = json.find(name);
			if (found != json.end())
				sum += found->get<int64>();
		}
		benchmark::DoNotOptimize(sum);
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---------------------------------------------------------------------------------------------------------
// Replacing every attribute by a value of the same kind

void BM_BagSet(benchmark::State& state)
{
	const Names& names = GetNames(state.range(0));
	VValueBag* bag = MakeBag(names);
	int64 round = 0;
	for (auto _ : state)
	{
		++round;
		for (const StPackedDictionaryKey& key : names.fKeys)
			bag->SetLong8(key, round);
		benchmark::ClobberMemory();
	}
	bag->Release();
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_MapSet(benchmark::State& state)
{
	const Names& names = GetNames(state.range(0));
	std::unordered_map<std::string, int64> map = MakeMap(names);
	int64 round = 0;
	for (auto _ : state)
	{
		++round;
		for (const std::string& name : names.fTexts)
			map[name] = round;
		benchmark::ClobberMemory();
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_JSONSet(benchmark::State& state)
{
	const Names& names = GetNames(state.range(0));
	nlohmann::json json = MakeJSON(names);
	int64 round = 0;
	for (auto _ : state)
	{
		++round;
		for (const std::string& name : names.fTexts)
			json[name] = round;
		benchmark::ClobberMemory();
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---------------------------------------------------------------------------------------------------------
// Building a container of 10 attributes from nothing

void BM_BagBuild10(benchmark::State& state)
{
	const Names& names = GetNames(10);
	for (auto _ : state)
	{
		VValueBag* bag = MakeBag(names);
		benchmark::DoNotOptimize(bag);
		bag->Release();
	}
	state.SetItemsProcessed(state.iterations() * 10);
}

void BM_MapBuild10(benchmark::State& state)
{
	const Names& names = GetNames(10);
	for (auto _ : state)
	{
		std::unordered_map<std::string, int64> map = MakeMap(names);
		benchmark::DoNotOptimize(map);
	}
	state.SetItemsProcessed(state.iterations() * 10);
}

void BM_JSONBuild10(benchmark::State& state)
{
	const Names& names = GetNames(10);
	for (auto _ : state)
	{
		nlohmann::json json = MakeJSON(names);
		benchmark::DoNotOptimize(json);
	}
	state.SetItemsProcessed(state.iterations() * 10);
}

// ---------------------------------------------------------------------------------------------------------
// Element lists: 10 names, 100 new empty children under each

constexpr int kELEMENT_NAMES = 10;
constexpr int kBAGS_PER_NAME = 100;

void BM_BagAddElements(benchmark::State& state)
{
	const Names& names = GetNames(kELEMENT_NAMES);
	for (auto _ : state)
	{
		VValueBag* parent = new VValueBag();
		for (const StPackedDictionaryKey& key : names.fKeys)
		{
			for (int i = 0; i < kBAGS_PER_NAME; ++i)
			{
				VValueBag* child = new VValueBag();
				parent->AddElement(key, child);
				child->Release();
			}
		}
		benchmark::DoNotOptimize(parent);
		parent->Release();
	}
	state.SetItemsProcessed(state.iterations() * kELEMENT_NAMES * kBAGS_PER_NAME);
}

void BM_MapAddElements(benchmark::State& state)
{
	using Child = std::unordered_map<std::string, int64>;
	const Names& names = GetNames(kELEMENT_NAMES);
	for (auto _ : state)
	{
		std::unordered_map<std::string, std::vector<std::unique_ptr<Child>>> parent;
		for (const std::string& name : names.fTexts)
		{
			for (int i = 0; i < kBAGS_PER_NAME; ++i)
				parent[name].push_back(std::make_unique<Child>());
		}
		benchmark::DoNotOptimize(parent);
	}
	state.SetItemsProcessed(state.iterations() * kELEMENT_NAMES * kBAGS_PER_NAME);
}

void BM_JSONAddElements(benchmark::State& state)
{
	const Names& names = GetNames(kELEMENT_NAMES);
	for (auto _ : state)
	{
		nlohmann::json parent = nlohmann::json::object();
		for (const std::string& name : names.fTexts)
		{
			for (int i = 0; i < kBAGS_PER_NAME; ++i)
				parent[name].push_back(nlohmann::json::object());
		}
		benchmark::DoNotOptimize(parent);
	}
	state.SetItemsProcessed(state.iterations() * kELEMENT_NAMES * kBAGS_PER_NAME);
}

}  // namespace

BENCHMARK(BM_BagGet)->Arg(4)->Arg(1000);
BENCHMARK(BM_MapGet)->Arg(4)->Arg(1000);
BENCHMARK(BM_JSONGet)->Arg(4)->Arg(1000);
BENCHMARK(BM_BagSet)->Arg(4)->Arg(1000);
BENCHMARK(BM_MapSet)->Arg(4)->Arg(1000);
BENCHMARK(BM_JSONSet)->Arg(4)->Arg(1000);
BENCHMARK(BM_BagBuild10);
BENCHMARK(BM_MapBuild10);
BENCHMARK(BM_JSONBuild10);
BENCHMARK(BM_BagAddElements)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapAddElements)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JSONAddElements)->Unit(benchmark::kMicrosecond);
