// 100 MB written and read back through VFileStream in 16-byte and 64 KiB pieces, against stdio with a
// 32 KiB setvbuf buffer doing the same. The file lives in a temporary folder and is deleted afterwards.
// Throughput counts the bytes moved. Closing the stream syncs the file, so stdio syncs before fclose too.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "BenchTools.h"
#include "files/VFile.h"
#include "files/VFileStream.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"

namespace {

constexpr size_t kTotal = 100u * 1000 * 1000;

// A scratch file, removed with its folder when the benchmark ends.
class ScratchFile
{
public:
	ScratchFile() : fFolder(bench::MakeTemporaryFolder("velk-stream-bench")), fPath(fFolder + "/data.bin") {}
	~ScratchFile() { std::filesystem::remove_all(fFolder); }
	const std::string& Path() const { return fPath; }

private:
	std::string fFolder;
	std::string fPath;
};

std::vector<char> Piece(size_t size)
{
	std::vector<char> piece(size);
	for (size_t i = 0; i < size; ++i)
		piece[i] = char('a' + i % 26);
	return piece;
}

void WriteVelk(const std::string& path, const std::vector<char>& piece)
{
	velk::VRefPtr<velk::VFile> file(new velk::VFile(velk::VString(path.c_str()), velk::FPS_POSIX), true);
	velk::VFileStream stream(file.Get(), velk::FO_FOLLOW_LINK | velk::FO_CREATE_IF_NOT_FOUND | velk::FO_TRUNCATE);
	stream.OpenWriting();
	for (size_t done = 0; done < kTotal; done += piece.size())
		stream.PutData(piece.data(), piece.size());
	stream.CloseWriting();
}

void BM_FileStream_Write_Velk(benchmark::State& state)
{
	bench::EnsureProcess();
	ScratchFile scratch;
	const std::vector<char> piece = Piece(size_t(state.range(0)));
	for (auto _ : state)
		WriteVelk(scratch.Path(), piece);
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}
BENCHMARK(BM_FileStream_Write_Velk)->Arg(16)->Arg(65536)->Unit(benchmark::kMillisecond);

void BM_FileStream_Write_Stdio(benchmark::State& state)
{
	ScratchFile scratch;
	const std::vector<char> piece = Piece(size_t(state.range(0)));
	std::vector<char> buffer(32768);
	for (auto _ : state)
	{
		FILE* out = std::fopen(scratch.Path().c_str(), "wb");
		std::setvbuf(out, buffer.data(), _IOFBF, buffer.size());
		for (size_t done = 0; done < kTotal; done += piece.size())
			std::fwrite(piece.data(), 1, piece.size(), out);
		std::fflush(out);
		::fsync(fileno(out));
		std::fclose(out);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}
BENCHMARK(BM_FileStream_Write_Stdio)->Arg(16)->Arg(65536)->Unit(benchmark::kMillisecond);

void BM_FileStream_Read_Velk(benchmark::State& state)
{
	bench::EnsureProcess();
	ScratchFile scratch;
	std::vector<char> piece = Piece(size_t(state.range(0)));
	WriteVelk(scratch.Path(), piece);
	velk::VRefPtr<velk::VFile> file(new velk::VFile(velk::VString(scratch.Path().c_str()), velk::FPS_POSIX), true);
	for (auto _ : state)
	{
		velk::VFileStream stream(file.Get());
		stream.OpenReading();
		for (size_t done = 0; done < kTotal; done += piece.size())
			stream.GetData(piece.data(), piece.size());
		stream.CloseReading();
		benchmark::DoNotOptimize(piece.data());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}
BENCHMARK(BM_FileStream_Read_Velk)->Arg(16)->Arg(65536)->Unit(benchmark::kMillisecond);

void BM_FileStream_Read_Stdio(benchmark::State& state)
{
	bench::EnsureProcess();
	ScratchFile scratch;
	std::vector<char> piece = Piece(size_t(state.range(0)));
	WriteVelk(scratch.Path(), piece);
	std::vector<char> buffer(32768);
	for (auto _ : state)
	{
		FILE* in = std::fopen(scratch.Path().c_str(), "rb");
		std::setvbuf(in, buffer.data(), _IOFBF, buffer.size());
		for (size_t done = 0; done < kTotal; done += piece.size())
			benchmark::DoNotOptimize(std::fread(piece.data(), 1, piece.size(), in));
		std::fclose(in);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}
BENCHMARK(BM_FileStream_Read_Stdio)->Arg(16)->Arg(65536)->Unit(benchmark::kMillisecond);

}  // namespace
