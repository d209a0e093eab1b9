// Typed arrays over a million elements against the standard library on the same data: Sort of int32 and
// doubles against std::sort, QuickFind against std::lower_bound, GetMin and GetMax against
// std::minmax_element.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "containers/VArrayLong.h"
#include "containers/VArrayReal.h"

namespace {

using velk::VArrayLong;
using velk::VArrayReal;

constexpr int kCOUNT = 1000000;
constexpr int kLOOKUPS = 1000;

const std::vector<int32_t>& RandomLongs()
{
	static const std::vector<int32_t> sValues = [] {
		std::mt19937 random(42);
		std::vector<int32_t> values(kCOUNT);
		for (int32_t& value : values)
			value = int32_t(random());
		return values;
	}();
	return sValues;
}

const std::vector<double>& RandomReals()
{
	static const std::vector<double> sValues = [] {
		std::mt19937_64 random(42);
		std::uniform_real_distribution<double> distribution(-1e6, 1e6);
		std::vector<double> values(kCOUNT);
		for (double& value : values)
			value = distribution(random);
		return values;
	}();
	return sValues;
}

template <class ARRAY, class T>
void Fill(ARRAY& array, const std::vector<T>& values)
{
	array.SetCount(int32_t(values.size()));
	std::copy(values.begin(), values.end(), static_cast<T*>(array.LockAndGetData()));
}

void BM_ArrayLongSort(benchmark::State& state)
{
	VArrayLong array;
	for (auto _ : state)
	{
		state.PauseTiming();
		Fill(array, RandomLongs());
		state.ResumeTiming();
		array.Sort(1, kCOUNT, false);
		benchmark::DoNotOptimize(array.GetLong(1));
	}
	state.SetItemsProcessed(state.iterations() * kCOUNT);
}

void BM_StdSortLong(benchmark::State& state)
{
	std::vector<int32_t> values;
	for (auto _ : state)
	{
		state.PauseTiming();
		values = RandomLongs();
		state.ResumeTiming();
		std::sort(values.begin(), values.end());
		benchmark::DoNotOptimize(values.front());
	}
	state.SetItemsProcessed(state.iterations() * kCOUNT);
}

void BM_ArrayRealSort(benchmark::State& state)
{
	VArrayReal array;
	for (auto _ : state)
	{
		state.PauseTiming();
		Fill(array, RandomReals());
		state.ResumeTiming();
		array.Sort(1, kCOUNT, false);
		benchmark::DoNotOptimize(array.GetReal(1));
	}
	state.SetItemsProcessed(state.iterations() * kCOUNT);
}

void BM_StdSortReal(benchmark::State& state)
{
	std::vector<double> values;
	for (auto _ : state)
	{
		state.PauseTiming();
		values = RandomReals();
		state.ResumeTiming();
		std::sort(values.begin(), values.end());
		benchmark::DoNotOptimize(values.front());
	}
	state.SetItemsProcessed(state.iterations() * kCOUNT);
}

// The looked-up values: present and absent ones, spread over the range.
const std::vector<int32_t>& Probes()
{
	static const std::vector<int32_t> sProbes = [] {
		std::mt19937 random(7);
		std::vector<int32_t> probes(kLOOKUPS);
		for (int32_t& probe : probes)
			probe = (random() & 1) != 0 ? RandomLongs()[random() % kCOUNT] : int32_t(random());
		return probes;
	}();
	return sProbes;
}

std::vector<int32_t> SortedLongs()
{
	std::vector<int32_t> values = RandomLongs();
	std::sort(values.begin(), values.end());
	return values;
}

void BM_ArrayLongQuickFind(benchmark::State& state)
{
	VArrayLong array;
	Fill(array, SortedLongs());
	for (auto _ : state)
	{
		int64_t found = 0;
		for (int32_t probe : Probes())
			found += array.QuickFind(probe);
		benchmark::DoNotOptimize(found);
	}
	state.SetItemsProcessed(state.iterations() * kLOOKUPS);
}

void BM_StdLowerBoundLong(benchmark::State& state)
{
	const std::vector<int32_t> values = SortedLongs();
	for (auto _ : state)
	{
		int64_t found = 0;
		for (int32_t probe : Probes())
		{
			const auto at = std::lower_bound(values.begin(), values.end(), probe);
			found += (at != values.end() && *at == probe) ? int64_t(at - values.begin()) + 1 : -1;
		}
		benchmark::DoNotOptimize(found);
	}
	state.SetItemsProcessed(state.iterations() * kLOOKUPS);
}

void BM_ArrayLongMinMax(benchmark::State& state)
{
	VArrayLong array;
	Fill(array, RandomLongs());
	for (auto _ : state)
	{
		benchmark::DoNotOptimize(array.GetMin());
		benchmark::DoNotOptimize(array.GetMax());
	}
	state.SetItemsProcessed(state.iterations() * kCOUNT);
}

void BM_StdMinMaxElementLong(benchmark::State& state)
{
	const std::vector<int32_t> values = RandomLongs();
	for (auto _ : state)
	{
		const auto extremes = std::minmax_element(values.begin(), values.end());
		benchmark::DoNotOptimize(*extremes.first);
		benchmark::DoNotOptimize(*extremes.second);
	}
	state.SetItemsProcessed(state.iterations() * kCOUNT);
}

}  // namespace

BENCHMARK(BM_ArrayLongSort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSortLong)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayRealSort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSortReal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayLongQuickFind)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdLowerBoundLong)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ArrayLongMinMax)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdMinMaxElementLong)->Unit(benchmark::kMicrosecond);
