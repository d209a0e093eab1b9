// VString building, copying and appending against std::u16string on the same data.
#include <benchmark/benchmark.h>

#include <string>

#include "kernel/intl/VUTFCodec.h"
#include "kernel/strings/VString.h"

namespace {

using velk::int32;
using velk::UniChar;
using velk::VString;

// Mixed text: ASCII words, accented Latin, a CJK run and an emoji, repeated to the wanted length.
std::u16string MakeUTF16(size_t units)
{
	const std::u16string piece = u"The quick brown fox, d\u00E9j\u00E0 vu, \u6F22\u5B57\u306E\u6587 \U0001F600. ";
	std::u16string text;
	while (text.size() < units)
		text += piece;
	text.resize(units);
	if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF)
		text.back() = u'.';
	return text;
}

const std::u16string& Source(int64_t units)
{
	static const std::u16string shortText = MakeUTF16(11);
	static const std::u16string longText = MakeUTF16(4096);
	return units <= 11 ? shortText : longText;
}

void BM_VString_BuildFromUTF16(benchmark::State& state)
{
	const std::u16string& src = Source(state.range(0));
	for (auto _ : state)
	{
		VString s(src.data(), int32(src.size()));
		benchmark::DoNotOptimize(s.GetCPointer());
	}
}
BENCHMARK(BM_VString_BuildFromUTF16)->Arg(11)->Arg(4096);

void BM_u16string_BuildFromUTF16(benchmark::State& state)
{
	const std::u16string& src = Source(state.range(0));
	for (auto _ : state)
	{
		std::u16string s(src.data(), src.size());
		benchmark::DoNotOptimize(s.data());
	}
}
BENCHMARK(BM_u16string_BuildFromUTF16)->Arg(11)->Arg(4096);

void BM_VString_BuildFromUTF8(benchmark::State& state)
{
	const std::u16string& src = Source(state.range(0));
	const std::string utf8 = velk::ToUTF8String(src.data(), int32(src.size()));
	for (auto _ : state)
	{
		VString s(utf8.c_str());
		benchmark::DoNotOptimize(s.GetCPointer());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(utf8.size()));
}
BENCHMARK(BM_VString_BuildFromUTF8)->Arg(11)->Arg(4096);

// The standard string has no UTF-8 decoder: the same decoding core fills it.
void BM_u16string_BuildFromUTF8(benchmark::State& state)
{
	const std::u16string& src = Source(state.range(0));
	const std::string utf8 = velk::ToUTF8String(src.data(), int32(src.size()));
	for (auto _ : state)
	{
		std::u16string s(utf8.size(), u'\0');
		size_t consumed = 0;
		int32 produced = 0;
		velk::DecodeUTF8(utf8.data(), utf8.size(), &consumed, s.data(), int32(s.size()), &produced);
		s.resize(size_t(produced));
		benchmark::DoNotOptimize(s.data());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(utf8.size()));
}
BENCHMARK(BM_u16string_BuildFromUTF8)->Arg(11)->Arg(4096);

void BM_VString_Copy(benchmark::State& state)
{
	const std::u16string& src = Source(state.range(0));
	const VString original(src.data(), int32(src.size()));
	for (auto _ : state)
	{
		VString copy(original);
		benchmark::DoNotOptimize(copy.GetCPointer());
	}
}
BENCHMARK(BM_VString_Copy)->Arg(11)->Arg(4096);

void BM_u16string_Copy(benchmark::State& state)
{
	const std::u16string original = Source(state.range(0));
	for (auto _ : state)
	{
		std::u16string copy(original);
		benchmark::DoNotOptimize(copy.data());
	}
}
BENCHMARK(BM_u16string_Copy)->Arg(11)->Arg(4096);

// A copy that is then changed: the shared buffer is copied on the first write.
void BM_VString_CopyThenEdit(benchmark::State& state)
{
	const std::u16string& src = Source(state.range(0));
	const VString original(src.data(), int32(src.size()));
	for (auto _ : state)
	{
		VString copy(original);
		copy.SetUniChar(1, u'X');
		benchmark::DoNotOptimize(copy.GetCPointer());
	}
}
BENCHMARK(BM_VString_CopyThenEdit)->Arg(11)->Arg(4096);

void BM_u16string_CopyThenEdit(benchmark::State& state)
{
	const std::u16string original = Source(state.range(0));
	for (auto _ : state)
	{
		std::u16string copy(original);
		copy[0] = u'X';
		benchmark::DoNotOptimize(copy.data());
	}
}
BENCHMARK(BM_u16string_CopyThenEdit)->Arg(11)->Arg(4096);

// Appending one unit at a time.
void BM_VString_AppendUnits(benchmark::State& state)
{
	const std::u16string& src = Source(state.range(0));
	for (auto _ : state)
	{
		VString s;
		for (size_t i = 0; i < src.size(); ++i)
			s.AppendUniChar(src[i]);
		benchmark::DoNotOptimize(s.GetCPointer());
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}
BENCHMARK(BM_VString_AppendUnits)->Arg(4096);

void BM_u16string_AppendUnits(benchmark::State& state)
{
	const std::u16string& src = Source(state.range(0));
	for (auto _ : state)
	{
		std::u16string s;
		for (size_t i = 0; i < src.size(); ++i)
			s.push_back(src[i]);
		benchmark::DoNotOptimize(s.data());
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}
BENCHMARK(BM_u16string_AppendUnits)->Arg(4096);

// Appending 16-unit pieces.
void BM_VString_AppendPieces(benchmark::State& state)
{
	const std::u16string& src = Source(state.range(0));
	for (auto _ : state)
	{
		VString s;
		for (size_t i = 0; i + 16 <= src.size(); i += 16)
			s.AppendUniChars(src.data() + i, 16);
		benchmark::DoNotOptimize(s.GetCPointer());
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}
BENCHMARK(BM_VString_AppendPieces)->Arg(4096);

void BM_u16string_AppendPieces(benchmark::State& state)
{
	const std::u16string& src = Source(state.range(0));
	for (auto _ : state)
	{
		std::u16string s;
		for (size_t i = 0; i + 16 <= src.size(); i += 16)
			s.append(src.data() + i, 16);
		benchmark::DoNotOptimize(s.data());
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}
BENCHMARK(BM_u16string_AppendPieces)->Arg(4096);

}  // namespace
