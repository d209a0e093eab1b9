// UTF-8 to UTF-16 and back through the toolbox's converters against ICU's u_strFromUTF8 / u_strToUTF8, on
// about 1 MB each of ASCII, accented Latin and CJK text, into buffers made beforehand.
#include <benchmark/benchmark.h>

#include <unicode/ustring.h>

#include <random>
#include <string>

#include "kernel/intl/VTextConverters.h"
#include "kernel/intl/VUTFCodec.h"
#include "kernel/strings/VString.h"

namespace {

using velk::int32;
using velk::UniChar;

constexpr size_t kTextBytes = 1 << 20;

enum TextKind : int64_t
{
	kASCII = 0,
	kLatin = 1,
	kCJK = 2
};

// Words drawn at random from a small vocabulary of the kind, until the UTF-8 form reaches about 1 MB.
std::u16string MakeText(TextKind kind)
{
	static const char16_t* const kASCIIWords[] = {u"the", u"quick", u"brown", u"fox", u"jumps", u"over", u"lazy", u"dog,", u"and", u"42"};
	static const char16_t* const kLatinWords[] = {u"d\u00E9j\u00E0", u"vu", u"na\u00EFve", u"caf\u00E9", u"\u00FCber", u"Stra\u00DFe",
												  u"ma\u00F1ana", u"co\u00F6perate", u"\u0142\u00F3d\u017A", u"el\u00E8ve"};
	static const char16_t* const kCJKWords[] = {u"\u6F22\u5B57", u"\u306E\u6587", u"\u65E5\u672C\u8A9E", u"\u4E2D\u6587", u"\uD55C\uAD6D\uC5B4",
												u"\u6771\u4EAC", u"\u5317\u4EAC\u5E02", u"\u3072\u3089\u304C\u306A", u"\u30AB\u30BF\u30AB\u30CA", u"\u6587\u5B57"};
	const char16_t* const* words = kind == kASCII ? kASCIIWords : kind == kLatin ? kLatinWords : kCJKWords;
	std::mt19937 random(unsigned(kind) + 1);
	std::uniform_int_distribution<int> pick(0, 9);
	std::u16string text;
	size_t bytes = 0;
	while (bytes < kTextBytes)
	{
		const std::u16string word = words[pick(random)];
		text += word;
		text += (kind == kCJK) ? u"\u3002" : u" ";
		bytes += velk::ToUTF8String(text.data() + text.size() - word.size() - 1, int32(word.size() + 1)).size();
	}
	return text;
}

struct Texts
{
	std::u16string fUTF16;
	std::string fUTF8;
};

const Texts& GetTexts(int64_t kind)
{
	static const Texts texts[3] = {
		{MakeText(kASCII), {}},
		{MakeText(kLatin), {}},
		{MakeText(kCJK), {}},
	};
	static const bool encoded = [] {
		for (const Texts& t : texts)
			const_cast<Texts&>(t).fUTF8 = velk::ToUTF8String(t.fUTF16.data(), int32(t.fUTF16.size()));
		return true;
	}();
	(void)encoded;
	return texts[kind];
}

void NameKind(benchmark::State& state)
{
	static const char* const kNames[] = {"ascii", "latin", "cjk"};
	state.SetLabel(kNames[state.range(0)]);
}

void BM_Velk_UTF8ToUTF16(benchmark::State& state)
{
	const Texts& texts = GetTexts(state.range(0));
	const velk::VToUnicodeConverter* converter = velk::VTextConverters::Get()->GetStdLibToUnicodeConverter();
	std::u16string out(texts.fUTF8.size(), u'\0');
	for (auto _ : state)
	{
		size_t consumed = 0;
		int32 produced = 0;
		converter->Convert(texts.fUTF8.data(), texts.fUTF8.size(), &consumed, out.data(), int32(out.size()), &produced);
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
	NameKind(state);
}
BENCHMARK(BM_Velk_UTF8ToUTF16)->DenseRange(0, 2);

void BM_ICU_UTF8ToUTF16(benchmark::State& state)
{
	const Texts& texts = GetTexts(state.range(0));
	std::u16string out(texts.fUTF8.size(), u'\0');
	for (auto _ : state)
	{
		UErrorCode err = U_ZERO_ERROR;
		int32_t produced = 0;
		u_strFromUTF8(out.data(), int32_t(out.size()), &produced, texts.fUTF8.data(), int32_t(texts.fUTF8.size()), &err);
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
	NameKind(state);
}
BENCHMARK(BM_ICU_UTF8ToUTF16)->DenseRange(0, 2);

void BM_Velk_UTF16ToUTF8(benchmark::State& state)
{
	const Texts& texts = GetTexts(state.range(0));
	const velk::VFromUnicodeConverter* converter = velk::VTextConverters::Get()->GetStdLibFromUnicodeConverter();
	std::string out(texts.fUTF16.size() * 3, '\0');
	for (auto _ : state)
	{
		int32 consumed = 0;
		size_t produced = 0;
		converter->Convert(texts.fUTF16.data(), int32(texts.fUTF16.size()), &consumed, out.data(), out.size(), &produced);
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
	NameKind(state);
}
BENCHMARK(BM_Velk_UTF16ToUTF8)->DenseRange(0, 2);

void BM_ICU_UTF16ToUTF8(benchmark::State& state)
{
	const Texts& texts = GetTexts(state.range(0));
	std::string out(texts.fUTF16.size() * 3, '\0');
	for (auto _ : state)
	{
		UErrorCode err = U_ZERO_ERROR;
		int32_t produced = 0;
		u_strToUTF8(out.data(), int32_t(out.size()), &produced, texts.fUTF16.data(), int32_t(texts.fUTF16.size()), &err);
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
	NameKind(state);
}
BENCHMARK(BM_ICU_UTF16ToUTF8)->DenseRange(0, 2);

// The whole road from bytes to a string value, allocation included.
void BM_Velk_UTF8ToVString(benchmark::State& state)
{
	const Texts& texts = GetTexts(state.range(0));
	for (auto _ : state)
	{
		velk::VString text;
		velk::VTextConverters::Get()->ConvertToVString(texts.fUTF8.data(), texts.fUTF8.size(), 7, text);
		benchmark::DoNotOptimize(text.GetCPointer());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
	NameKind(state);
}
BENCHMARK(BM_Velk_UTF8ToVString)->DenseRange(0, 2);

}  // namespace
