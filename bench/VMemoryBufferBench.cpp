// Filling a VMemoryBuffer with 4 KiB appends against std::vector<uint8_t> on the same data. The buffer grows by
// at most 1 MiB past its need, so large fills depend on the manager resizing blocks without copying them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "kernel/memory/VMemoryBuffer.h"

namespace {

constexpr int64_t kMiB = 1048576;
constexpr size_t kChunk = 4096;

const std::vector<uint8_t>& Chunk()
{
	static const std::vector<uint8_t> chunk = []
	{
		std::vector<uint8_t> bytes(kChunk);
		for (size_t i = 0; i < kChunk; ++i)
			bytes[i] = uint8_t(i * 31 + 7);
		return bytes;
	}();
	return chunk;
}

void BM_VMemoryBuffer_Append4KiB(benchmark::State& state)
{
	const std::vector<uint8_t>& chunk = Chunk();
	const int64_t total = state.range(0) * kMiB;
	for (auto _ : state)
	{
		velk::VMemoryBuffer<> buffer;
		for (int64_t done = 0; done < total; done += int64_t(kChunk))
		{
			if (!buffer.AddData(chunk.data(), chunk.size()))
			{
				state.SkipWithError("out of memory");
				break;
			}
		}
		benchmark::DoNotOptimize(buffer.GetDataPtr());
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(state.iterations() * total);
}
BENCHMARK(BM_VMemoryBuffer_Append4KiB)->Arg(64)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StdVector_Append4KiB(benchmark::State& state)
{
	const std::vector<uint8_t>& chunk = Chunk();
	const int64_t total = state.range(0) * kMiB;
	for (auto _ : state)
	{
		std::vector<uint8_t> buffer;
		for (int64_t done = 0; done < total; done += int64_t(kChunk))
			buffer.insert(buffer.end(), chunk.begin(), chunk.end());
		benchmark::DoNotOptimize(buffer.data());
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(state.iterations() * total);
}
BENCHMARK(BM_StdVector_Append4KiB)->Arg(64)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
