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

// The peer's second step: the bytes snprintf wrote, as UTF-16.
int32_t ToUTF16(const char* bytes, int length, UChar (&units)[1024])
{
	UErrorCode error = U_ZERO_ERROR;
	int32_t produced = 0;
	u_strFromUTF8(units, 1024, &produced, bytes, length, &error);
	return produced;
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
	char buffer[1024];
	UChar units[1024];
	int i = 0;
	for (auto _ : state)
	{
		const int length = std::snprintf(buffer, sizeof(buffer), "step %d of %d", i++, 1000);
		benchmark::DoNotOptimize(ToUTF16(buffer, length, units));
		benchmark::DoNotOptimize(units);
	}
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
	char buffer[1024];
	UChar units[1024];
	for (auto _ : state)
	{
		const int length = std::snprintf(buffer, sizeof(buffer), "%s starting - %s", kWord, kWord);
		benchmark::DoNotOptimize(ToUTF16(buffer, length, units));
		benchmark::DoNotOptimize(units);
	}
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
	char buffer[1024];
	UChar units[1024];
	for (auto _ : state)
	{
		const int length = std::snprintf(buffer, sizeof(buffer), "Updater starting - %s - %s", kWord, kWord);
		benchmark::DoNotOptimize(ToUTF16(buffer, length, units));
		benchmark::DoNotOptimize(units);
	}
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
	char buffer[1024];
	UChar units[1024];
	int i = 0;
	for (auto _ : state)
	{
		const int length = std::snprintf(buffer, sizeof(buffer), "%d %s %s", i++, kWord, kWord);
		benchmark::DoNotOptimize(ToUTF16(buffer, length, units));
		benchmark::DoNotOptimize(units);
	}
}
BENCHMARK(BM_snprintf_UTF16_Mixed);

}  // namespace
