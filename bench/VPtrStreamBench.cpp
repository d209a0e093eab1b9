// Writing 100 MB into memory in 4 KB and in 16-byte pieces: VPtrStream through VStream::PutData (opened for
// writing, so every piece pays the stream's frame) against std::vector<char> appending the same pieces.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "kernel/values/VPtrStream.h"

namespace {

constexpr int64_t kTotal = 100 * 1000 * 1000;

const std::vector<char>& Piece()
{
	static const std::vector<char> piece = []
	{
		std::vector<char> bytes(4096);
		for (size_t i = 0; i < bytes.size(); ++i)
			bytes[i] = char(i * 31 + 7);
		return bytes;
	}();
	return piece;
}

void BM_VPtrStream_Write(benchmark::State& state)
{
	const char* piece = Piece().data();
	const size_t size = size_t(state.range(0));
	for (auto _ : state)
	{
		velk::VPtrStream stream;
		stream.OpenWriting();
		for (int64_t done = 0; done < kTotal; done += int64_t(size))
		{
			if (stream.PutData(piece, size) != velk::VE_OK)
			{
				state.SkipWithError("write failed");
				break;
			}
		}
		benchmark::DoNotOptimize(stream.GetUnderlyingData().fData);
		stream.CloseWriting();
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(state.iterations() * kTotal);
}
BENCHMARK(BM_VPtrStream_Write)->Arg(4096)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StdVector_Write(benchmark::State& state)
{
	const char* piece = Piece().data();
	const size_t size = size_t(state.range(0));
	for (auto _ : state)
	{
		std::vector<char> buffer;
		for (int64_t done = 0; done < kTotal; done += int64_t(size))
			buffer.insert(buffer.end(), piece, piece + size);
		benchmark::DoNotOptimize(buffer.data());
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(state.iterations() * kTotal);
}
BENCHMARK(BM_StdVector_Write)->Arg(4096)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
