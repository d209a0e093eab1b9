// VString::Printf with %d, %s and %S against snprintf into a char buffer on the same texts.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "kernel/strings/VString.h"

namespace {

using velk::VString;

const char kWord[] = "updater";
const char16_t kWord16[] = u"updater";

void BM_VString_Printf_d(benchmark::State& state)
{
	VString s;
	int i = 0;
	for (auto _ : state)
	{
		s.Printf("step %d of %d", i++, 1000);
		benchmark::DoNotOptimize(s.GetCPointer());
	}
}
BENCHMARK(BM_VString_Printf_d);

void BM_snprintf_d(benchmark::State& state)
{
	char buffer[1024];
	int i = 0;
	for (auto _ : state)
	{
		std::snprintf(buffer, sizeof(buffer), "step %d of %d", i++, 1000);
		benchmark::DoNotOptimize(buffer);
	}
}
BENCHMARK(BM_snprintf_d);

void BM_VString_Printf_s(benchmark::State& state)
{
	VString s;
	for (auto _ : state)
	{
		s.Printf("%s starting - %s", kWord, kWord);
		benchmark::DoNotOptimize(s.GetCPointer());
	}
}
BENCHMARK(BM_VString_Printf_s);

void BM_snprintf_s(benchmark::State& state)
{
	char buffer[1024];
	for (auto _ : state)
	{
		std::snprintf(buffer, sizeof(buffer), "%s starting - %s", kWord, kWord);
		benchmark::DoNotOptimize(buffer);
	}
}
BENCHMARK(BM_snprintf_s);

// %S against %s of the same text already in UTF-8.
void BM_VString_Printf_S(benchmark::State& state)
{
	const VString word(kWord16);
	VString s;
	for (auto _ : state)
	{
		s.Printf("Updater starting - %S - %S", &word, &word);
		benchmark::DoNotOptimize(s.GetCPointer());
	}
}
BENCHMARK(BM_VString_Printf_S);

void BM_snprintf_S(benchmark::State& state)
{
	char buffer[1024];
	for (auto _ : state)
	{
		std::snprintf(buffer, sizeof(buffer), "Updater starting - %s - %s", kWord, kWord);
		benchmark::DoNotOptimize(buffer);
	}
}
BENCHMARK(BM_snprintf_S);

void BM_VString_Printf_Mixed(benchmark::State& state)
{
	const VString word(kWord16);
	VString s;
	int i = 0;
	for (auto _ : state)
	{
		s.Printf("%d %s %S", i++, kWord, &word);
		benchmark::DoNotOptimize(s.GetCPointer());
	}
}
BENCHMARK(BM_VString_Printf_Mixed);

void BM_snprintf_Mixed(benchmark::State& state)
{
	char buffer[1024];
	int i = 0;
	for (auto _ : state)
	{
		std::snprintf(buffer, sizeof(buffer), "%d %s %s", i++, kWord, kWord);
		benchmark::DoNotOptimize(buffer);
	}
}
BENCHMARK(BM_snprintf_Mixed);

}  // namespace
