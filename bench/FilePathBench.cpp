// Native file paths against std::filesystem on the same 100,000 POSIX paths: a full path to a VFilePath and
// back against lexically_normal, and the relative POSIX text of a path under a folder against
// lexically_relative.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "files/VFilePath.h"
#include "kernel/strings/VString.h"

namespace {

using velk::FPS_POSIX;
using velk::int32;
using velk::VFilePath;
using velk::VString;

constexpr size_t kPathCount = 100000;

// Paths of 3 to 8 names, some with "//", "./" or a "../" step, half of them folders.
struct Workload
{
	std::vector<std::string> texts;
	std::vector<VString> strings;
	// For the relative case: each path and a folder above it, in both forms.
	std::vector<VFilePath> paths;
	std::vector<VFilePath> bases;
	std::vector<std::filesystem::path> stdPaths;
	std::vector<std::filesystem::path> stdBases;
};

const Workload& Paths()
{
	static const Workload workload = [] {
		Workload w;
		uint32_t seed = 12345;
		auto next = [&seed] {
			seed = seed * 1664525u + 1013904223u;
			return seed >> 8;
		};
		static const char* const kNames[] = { "home", "user", "projects", "src", "include", "library",
			"Application Support", "build-output", "notes.txt", "archive.tar.gz", "module", "data" };
		for (size_t i = 0; i < kPathCount; ++i)
		{
			std::string text;
			std::string base;
			const uint32_t depth = 3 + next() % 6;
			for (uint32_t d = 0; d < depth; ++d)
			{
				text += '/';
				const uint32_t form = next() % 16;
				if (form == 0)
					text += '/';
				else if (form == 1)
					text += "./";
				else if (form == 2 && d > 0)
					text += "tmp/../";
				text += kNames[next() % 12];
				text += std::to_string(next() % 100);
				if (d == 1)
					base = text + '/';
			}
			if (next() % 2 == 0)
				text += '/';
			w.texts.push_back(text);
			w.strings.emplace_back(text.c_str());
			// The relative case starts from clean paths, as both sides hold them once resolved.
			const std::filesystem::path normal = std::filesystem::path(text).lexically_normal();
			const std::filesystem::path folder = std::filesystem::path(base).lexically_normal();
			w.stdPaths.push_back(normal);
			w.stdBases.push_back(folder.parent_path());
			w.paths.emplace_back(VString(normal.string().c_str()), FPS_POSIX);
			w.bases.emplace_back(VString(folder.string().c_str()), FPS_POSIX);
		}
		return w;
	}();
	return workload;
}

void BM_VFilePath_PosixRoundTrip(benchmark::State& state)
{
	const Workload& w = Paths();
	VString out;
	for (auto _ : state)
	{
		for (const VString& text : w.strings)
		{
			const VFilePath path(text, FPS_POSIX);
			path.GetPosixPath(out);
			benchmark::DoNotOptimize(out.GetCPointer());
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPathCount));
}
BENCHMARK(BM_VFilePath_PosixRoundTrip)->Unit(benchmark::kMillisecond);

void BM_StdPath_LexicallyNormal(benchmark::State& state)
{
	const Workload& w = Paths();
	for (auto _ : state)
	{
		for (const std::string& text : w.texts)
		{
			const std::string out = std::filesystem::path(text).lexically_normal().string();
			benchmark::DoNotOptimize(out.data());
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPathCount));
}
BENCHMARK(BM_StdPath_LexicallyNormal)->Unit(benchmark::kMillisecond);

void BM_VFilePath_GetRelativePosixPath(benchmark::State& state)
{
	const Workload& w = Paths();
	VString out;
	for (auto _ : state)
	{
		for (size_t i = 0; i < kPathCount; ++i)
		{
			w.paths[i].GetRelativePosixPath(w.bases[i], out);
			benchmark::DoNotOptimize(out.GetCPointer());
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPathCount));
}
BENCHMARK(BM_VFilePath_GetRelativePosixPath)->Unit(benchmark::kMillisecond);

void BM_StdPath_LexicallyRelative(benchmark::State& state)
{
	const Workload& w = Paths();
	for (auto _ : state)
	{
		for (size_t i = 0; i < kPathCount; ++i)
		{
			const std::filesystem::path out = w.stdPaths[i].lexically_relative(w.stdBases[i]);
			benchmark::DoNotOptimize(out.native().data());
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPathCount));
}
BENCHMARK(BM_StdPath_LexicallyRelative)->Unit(benchmark::kMillisecond);

}  // namespace
