// FindRawString against std::u16string::find on the same haystack of about 1 MB (prose in ASCII, and CJK
// text), with patterns of several lengths found only at the very end, so that both scan everything.
#include <benchmark/benchmark.h>

#include <iterator>
#include <random>
#include <string>

#include "kernel/strings/VString.h"

namespace {

using velk::int32;
using velk::VString;

constexpr size_t kHAYSTACK_UNITS = 512 * 1024;  // 1 MB of UTF-16

// Words drawn at random from a small vocabulary, so that the first unit of a pattern and partial matches
// come often, as in real text.
std::u16string MakeText(bool cjk)
{
	static const char16_t* const kLatin[] = {u"the ", u"quick ", u"brown ", u"fox ", u"jumps ", u"over ", u"a ", u"lazy ", u"dog, ", u"then ", u"thinks. "};
	static const char16_t* const kCJK[] = {u"\u6F22\u5B57", u"\u306E", u"\u6587\u7AE0", u"\u3092", u"\u8AAD\u3080", u"\u3002", u"\u65E5\u672C\u8A9E", u"\u3068", u"\u4E2D\u6587"};
	std::mt19937 random(42);
	std::u16string text;
	text.reserve(kHAYSTACK_UNITS + 64);
	while (text.size() < kHAYSTACK_UNITS)
		text += cjk ? kCJK[random() % std::size(kCJK)] : kLatin[random() % std::size(kLatin)];
	text.resize(kHAYSTACK_UNITS);
	return text;
}

struct Data
{
	std::u16string fHaystack;
	std::u16string fPattern;
};

// The pattern is ordinary text with one unit that appears nowhere else at its end; the haystack ends with it.
const Data& GetData(int64_t kind, int64_t patternLength)
{
	static Data cache[2][4];
	static const int64_t kLengths[4] = {4, 16, 64, 300};
	int index = 0;
	while (kLengths[index] != patternLength)
		++index;
	Data& data = cache[kind][index];
	if (data.fHaystack.empty())
	{
		std::u16string text = MakeText(kind == 1);
		data.fPattern = text.substr(1000, size_t(patternLength) - 1) + u'#';
		text.resize(kHAYSTACK_UNITS - data.fPattern.size());
		data.fHaystack = text + data.fPattern;
	}
	return data;
}

void BM_FindRawString(benchmark::State& state)
{
	const Data& data = GetData(state.range(0), state.range(1));
	const VString haystack(data.fHaystack.data(), int32(data.fHaystack.size()));
	const VString pattern(data.fPattern.data(), int32(data.fPattern.size()));
	const int32 expected = int32(data.fHaystack.size() - data.fPattern.size()) + 1;
	for (auto _ : state)
	{
		const int32 found = haystack.FindRawString(pattern, 1);
		if (found != expected)
			state.SkipWithError("wrong position");
		benchmark::DoNotOptimize(found);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.fHaystack.size() * 2));
}

void BM_u16string_find(benchmark::State& state)
{
	const Data& data = GetData(state.range(0), state.range(1));
	const size_t expected = data.fHaystack.size() - data.fPattern.size();
	for (auto _ : state)
	{
		const size_t found = data.fHaystack.find(data.fPattern);
		if (found != expected)
			state.SkipWithError("wrong position");
		benchmark::DoNotOptimize(found);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.fHaystack.size() * 2));
}

// Arguments: text (0 ASCII prose, 1 CJK), pattern length in units.
void SearchArgs(benchmark::internal::Benchmark* b)
{
	for (int64_t kind : {0, 1})
	{
		for (int64_t length : {4, 16, 64, 300})
			b->Args({kind, length});
	}
}

BENCHMARK(BM_FindRawString)->Apply(SearchArgs);
BENCHMARK(BM_u16string_find)->Apply(SearchArgs);

}  // namespace
