// Base64 of 10 MB against OpenSSL's block coder, and UUID generation against libuuid. The comparisons are
// built only when those libraries were found; the toolbox's own cases always run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "kernel/strings/Base64Coder.h"
#include "kernel/values/VUUID.h"

#if VELK_BENCH_HAVE_OPENSSL
#include <openssl/evp.h>
#endif
#if VELK_BENCH_HAVE_LIBUUID
#include <uuid/uuid.h>
#endif

namespace {

constexpr size_t kBytes = 10 * 1000 * 1000;

const std::vector<uint8_t>& Data()
{
	static const std::vector<uint8_t> data = []
	{
		std::vector<uint8_t> bytes(kBytes);
		std::mt19937 random(42);
		for (uint8_t& byte : bytes)
			byte = uint8_t(random());
		return bytes;
	}();
	return data;
}

const std::vector<uint8_t>& Encoded()
{
	static const std::vector<uint8_t> text = []
	{
		velk::Base64Coder::Buffer out;
		velk::Base64Coder::_Encode(Data().data(), Data().size(), out, 0, false);
		return std::vector<uint8_t>(out.GetDataPtr(), out.GetDataPtr() + out.GetDataSize());
	}();
	return text;
}

void BM_Base64Encode_Velk(benchmark::State& state)
{
	const std::vector<uint8_t>& data = Data();
	velk::Base64Coder::Buffer out;
	for (auto _ : state)
	{
		if (!velk::Base64Coder::_Encode(data.data(), data.size(), out, 0, false))
			state.SkipWithError("encoding failed");
		benchmark::DoNotOptimize(out.GetDataPtr());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_Base64Encode_Velk)->Unit(benchmark::kMillisecond);

void BM_Base64Decode_Velk(benchmark::State& state)
{
	const std::vector<uint8_t>& text = Encoded();
	velk::Base64Coder::Buffer out;
	for (auto _ : state)
	{
		if (!velk::Base64Coder::Decode(text.data(), text.size(), out, false, false))
			state.SkipWithError("decoding failed");
		benchmark::DoNotOptimize(out.GetDataPtr());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_Base64Decode_Velk)->Unit(benchmark::kMillisecond);

#if VELK_BENCH_HAVE_OPENSSL
// The output is allocated each time, as the toolbox's coder does.
void BM_Base64Encode_OpenSSL(benchmark::State& state)
{
	const std::vector<uint8_t>& data = Data();
	for (auto _ : state)
	{
		std::vector<unsigned char> out(4 * ((data.size() + 2) / 3) + 1);
		benchmark::DoNotOptimize(EVP_EncodeBlock(out.data(), data.data(), int(data.size())));
		benchmark::DoNotOptimize(out.data());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_Base64Encode_OpenSSL)->Unit(benchmark::kMillisecond);

void BM_Base64Decode_OpenSSL(benchmark::State& state)
{
	const std::vector<uint8_t>& text = Encoded();
	for (auto _ : state)
	{
		std::vector<unsigned char> out(3 * (text.size() / 4) + 1);
		if (EVP_DecodeBlock(out.data(), text.data(), int(text.size())) < 0)
			state.SkipWithError("decoding failed");
		benchmark::DoNotOptimize(out.data());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_Base64Decode_OpenSSL)->Unit(benchmark::kMillisecond);
#endif

void BM_UUIDGenerate_Velk(benchmark::State& state)
{
	const auto version = velk::VUUID::Version(state.range(0));
	velk::VUUID uuid;
	for (auto _ : state)
	{
		uuid.Regenerate(version);
		benchmark::DoNotOptimize(uuid.GetBuffer().fBytes);
	}
	state.SetItemsProcessed(int64_t(state.iterations()));
}
// Platform generator, random (version 4), time-ordered (version 7).
BENCHMARK(BM_UUIDGenerate_Velk)->Arg(0)->Arg(4)->Arg(7);

#if VELK_BENCH_HAVE_LIBUUID
void BM_UUIDGenerate_libuuid(benchmark::State& state)
{
	uuid_t uuid;
	for (auto _ : state)
	{
		uuid_generate_random(uuid);
		benchmark::DoNotOptimize(uuid);
	}
	state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_UUIDGenerate_libuuid);
#endif

}  // namespace
