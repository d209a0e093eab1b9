// Appending 320,000 short strings one at a time into a VArrayString against std::vector<VString>: the way
// a text is split into pieces.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "containers/VArrayString.h"
#include "kernel/strings/VString.h"

namespace {

using velk::VArrayString;
using velk::VString;

constexpr int kPIECES = 320000;

const VString& GetPiece()
{
	static const VString sPiece("piece");
	return sPiece;
}

void BM_ArrayStringAppend(benchmark::State& state)
{
	for (auto _ : state)
	{
		VArrayString array;
		for (int i = 0; i < kPIECES; ++i)
			array.AppendString(GetPiece());
		benchmark::DoNotOptimize(array.GetCount());
	}
	state.SetItemsProcessed(state.iterations() * kPIECES);
}

void BM_VectorStringAppend(benchmark::State& state)
{
	for (auto _ : state)
	{
		std::vector<VString> vector;
		for (int i = 0; i < kPIECES; ++i)
			vector.push_back(GetPiece());
		benchmark::DoNotOptimize(vector.size());
	}
	state.SetItemsProcessed(state.iterations() * kPIECES);
}

}  // namespace

BENCHMARK(BM_ArrayStringAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorStringAppend)->Unit(benchmark::kMillisecond);
