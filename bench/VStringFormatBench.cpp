// VString::Printf with %d, %s and %S against snprintf into a char buffer on the same texts, alone and then
// turned into UTF-16 (ICU's u_strFromUTF8 into a buffer), which is what a caller needing UTF-16 would pay.
#include <benchmark/benchmark.h>

#include <unicode/ustring.h>

#include <cstdio>

#include "kernel/strings/VString.h"

namespace {

using velk::VString;

const char kWord[] = "updater";
const char16_t kWord16[] = u"updater";

// The peer with its second step: snprintf into a buffer (print), then the bytes as UTF-16.
template <typename Print>
void RunSnprintfToUTF16(benchmark::State& state, Print print)
{
	char buffer[1024];
	UChar units[1024];
	for (auto _ : state)
	{
		const int length = print(buffer, sizeof(buffer));
		UErrorCode error = U_ZERO_ERROR;
		int32_t produced = 0;
		u_strFromUTF8(units, 1024, &produced, buffer, length, &error);
		benchmark::DoNotOptimize(produced);
		benchmark::DoNotOptimize(units);
	}
}

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

void BM_snprintf_UTF16_d(benchmark::State& state)
{
	int i = 0;
	RunSnprintfToUTF16(state, [&i](char* buffer, size_t size) { return std::snprintf(buffer, size, "step %d of %d", i++, 1000); });
}
BENCHMARK(BM_snprintf_UTF16_d);


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

void BM_snprintf_UTF16_s(benchmark::State& state)
{
	RunSnprintfToUTF16(state, [](char* buffer, size_t size) { return std::snprintf(buffer, size, "%s starting - %s", kWord, kWord); });
}
BENCHMARK(BM_snprintf_UTF16_s);


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

void BM_snprintf_UTF16_S(benchmark::State& state)
{
	RunSnprintfToUTF16(state, [](char* buffer, size_t size) { return std::snprintf(buffer, size, "Updater starting - %s - %s", kWord, kWord); });
}
BENCHMARK(BM_snprintf_UTF16_S);


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

void BM_snprintf_UTF16_Mixed(benchmark::State& state)
{
	int i = 0;
	RunSnprintfToUTF16(state, [&i](char* buffer, size_t size) { return std::snprintf(buffer, size, "%d %s %s", i++, kWord, kWord); });
}
BENCHMARK(BM_snprintf_UTF16_Mixed);


}  // namespace
