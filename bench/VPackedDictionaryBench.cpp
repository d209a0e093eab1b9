// Attributes set on and read from one bag against std::unordered_map<std::string, int> with the same short
// keys, at 1,000 and 100,000 names: both grow from empty, look every name up once per insert (the bag's
// setters do) and once per read.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "containers/StPackedDictionaryKey.h"
#include "containers/VValueBag.h"

namespace {

using velk::int64;
using velk::StPackedDictionaryKey;
using velk::VValueBag;

const std::vector<std::string>& GetNames(int64_t count)
{
	static std::vector<std::string> cache[2];
	std::vector<std::string>& names = cache[count > 1000 ? 1 : 0];
	if (names.empty())
	{
		for (int64_t i = 0; i < count; ++i)
			names.push_back("attr" + std::to_string(i));
	}
	return names;
}

VValueBag* MakeBag(const std::vector<std::string>& names)
{
	VValueBag* bag = new VValueBag();
	for (size_t i = 0; i < names.size(); ++i)
		bag->SetLong8(StPackedDictionaryKey(names[i].c_str()), int64(i));
	return bag;
}

void BM_BagSetAttributes(benchmark::State& state)
{
	const std::vector<std::string>& names = GetNames(state.range(0));
	for (auto _ : state)
	{
		VValueBag* bag = MakeBag(names);
		benchmark::DoNotOptimize(bag->GetAttributesCount());
		bag->Release();
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_MapInsert(benchmark::State& state)
{
	const std::vector<std::string>& names = GetNames(state.range(0));
	for (auto _ : state)
	{
		std::unordered_map<std::string, int> map;
		for (size_t i = 0; i < names.size(); ++i)
			map[names[i]] = int(i);
		benchmark::DoNotOptimize(map.size());
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BagGetAttributes(benchmark::State& state)
{
	const std::vector<std::string>& names = GetNames(state.range(0));
	VValueBag* bag = MakeBag(names);
	for (auto _ : state)
	{
		int64 sum = 0;
		for (const std::string& name : names)
		{
			int64 value = 0;
			bag->GetLong8(StPackedDictionaryKey(name.c_str()), value);
			sum += value;
		}
		benchmark::DoNotOptimize(sum);
	}
	bag->Release();
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_MapFind(benchmark::State& state)
{
	const std::vector<std::string>& names = GetNames(state.range(0));
	std::unordered_map<std::string, int> map;
	for (size_t i = 0; i < names.size(); ++i)
		map[names[i]] = int(i);
	for (auto _ : state)
	{
		int64 sum = 0;
		for (const std::string& name : names)
			sum += map.find(name)->second;
		benchmark::DoNotOptimize(sum);
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_BagSetAttributes)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapInsert)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BagGetAttributes)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapFind)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
