// UTF-8 to UTF-16 and back through the toolbox's converters against ICU's u_strFromUTF8 / u_strToUTF8 and,
// to UTF-16, against a cached ICU converter (ucnv), on about 1 MB each of ASCII, accented Latin and CJK
// text, into buffers made beforehand; and short legacy texts (20 bytes of windows-1252) through the registry
// against one cached ICU converter.
#include <benchmark/benchmark.h>

#include <unicode/ucnv.h>
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

void BM_ICU_ucnv_UTF8ToUTF16(benchmark::State& state)
{
	const Texts& texts = GetTexts(state.range(0));
	UErrorCode opened = U_ZERO_ERROR;
	UConverter* const converter = ucnv_open("UTF-8", &opened);
	std::u16string out(texts.fUTF8.size(), u'\0');
	for (auto _ : state)
	{
		UErrorCode err = U_ZERO_ERROR;
		const int32_t produced = ucnv_toUChars(converter, out.data(), int32_t(out.size()), texts.fUTF8.data(), int32_t(texts.fUTF8.size()), &err);
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
	ucnv_close(converter);
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
	NameKind(state);
}
BENCHMARK(BM_ICU_ucnv_UTF8ToUTF16)->DenseRange(0, 2);

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

// ---------------------------------------------------------------------------------------------------------
// Short legacy texts: what a caller pays for a converter and one call, against ICU with a converter opened
// once. The text is 20 bytes of windows-1252 (CharSet 101), accented letters and the euro sign included.

const char kLegacyBytes[] = "Caf\xE9 cr\xE8me \x80 br\xFBl\xE9" "es";
constexpr size_t kLegacyByteCount = sizeof(kLegacyBytes) - 1;
const char16_t kLegacyText[] = u"Caf\u00E9 cr\u00E8me \u20AC br\u00FBl\u00E9es";
constexpr int32 kLegacyUnitCount = int32(sizeof(kLegacyText) / sizeof(char16_t) - 1);
static_assert(kLegacyByteCount == 20 && kLegacyUnitCount == 20);

UConverter* CachedICUConverter()
{
	static UConverter* const converter = [] {
		UErrorCode err = U_ZERO_ERROR;
		return ucnv_open("windows-1252", &err);
	}();
	return converter;
}

void BM_ICU_LegacyToUnicode(benchmark::State& state)
{
	UConverter* const converter = CachedICUConverter();
	UChar out[64];
	for (auto _ : state)
	{
		UErrorCode err = U_ZERO_ERROR;
		const int32_t produced = ucnv_toUChars(converter, out, 64, kLegacyBytes, int32_t(kLegacyByteCount), &err);
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_ICU_LegacyToUnicode);

// A converter asked of the registry, one call, and the converter released: a request as callers make it.
void BM_Velk_LegacyToUnicode(benchmark::State& state)
{
	velk::VTextConverters* const registry = velk::VTextConverters::Get();
	UniChar out[64];
	for (auto _ : state)
	{
		velk::VToUnicodeConverter* converter = registry->RetainToUnicodeConverter(velk::kCharSet_Windows1252);
		size_t consumed = 0;
		int32 produced = 0;
		converter->Convert(kLegacyBytes, kLegacyByteCount, &consumed, out, 64, &produced);
		converter->Release();
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_Velk_LegacyToUnicode);

// One call on a converter the caller keeps.
void BM_Velk_LegacyToUnicodeKept(benchmark::State& state)
{
	velk::VToUnicodeConverter* converter = velk::VTextConverters::Get()->RetainToUnicodeConverter(velk::kCharSet_Windows1252);
	UniChar out[64];
	for (auto _ : state)
	{
		size_t consumed = 0;
		int32 produced = 0;
		converter->Convert(kLegacyBytes, kLegacyByteCount, &consumed, out, 64, &produced);
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
	converter->Release();
}
BENCHMARK(BM_Velk_LegacyToUnicodeKept);

// The whole road to a string value, allocation included.
void BM_Velk_LegacyToVString(benchmark::State& state)
{
	for (auto _ : state)
	{
		velk::VString text;
		velk::VTextConverters::Get()->ConvertToVString(kLegacyBytes, kLegacyByteCount, velk::kCharSet_Windows1252, text);
		benchmark::DoNotOptimize(text.GetCPointer());
	}
}
BENCHMARK(BM_Velk_LegacyToVString);

void BM_ICU_LegacyFromUnicode(benchmark::State& state)
{
	UConverter* const converter = CachedICUConverter();
	char out[64];
	for (auto _ : state)
	{
		UErrorCode err = U_ZERO_ERROR;
		const int32_t produced = ucnv_fromUChars(converter, out, 64, kLegacyText, kLegacyUnitCount, &err);
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_ICU_LegacyFromUnicode);

void BM_Velk_LegacyFromUnicode(benchmark::State& state)
{
	velk::VTextConverters* const registry = velk::VTextConverters::Get();
	char out[64];
	for (auto _ : state)
	{
		velk::VFromUnicodeConverter* converter = registry->RetainFromUnicodeConverter(velk::kCharSet_Windows1252);
		int32 consumed = 0;
		size_t produced = 0;
		converter->Convert(kLegacyText, kLegacyUnitCount, &consumed, out, sizeof(out), &produced);
		converter->Release();
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_Velk_LegacyFromUnicode);

void BM_Velk_LegacyFromUnicodeKept(benchmark::State& state)
{
	velk::VFromUnicodeConverter* converter = velk::VTextConverters::Get()->RetainFromUnicodeConverter(velk::kCharSet_Windows1252);
	char out[64];
	for (auto _ : state)
	{
		int32 consumed = 0;
		size_t produced = 0;
		converter->Convert(kLegacyText, kLegacyUnitCount, &consumed, out, sizeof(out), &produced);
		benchmark::DoNotOptimize(produced);
		benchmark::ClobberMemory();
	}
	converter->Release();
}
BENCHMARK(BM_Velk_LegacyFromUnicodeKept);

// A name near the end of the 162-row table.
void BM_Velk_CharSetFromName(benchmark::State& state)
{
	const velk::VString name("windows-936");
	for (auto _ : state)
		benchmark::DoNotOptimize(velk::VTextConverters::Get()->GetCharSetFromName(name));
}
BENCHMARK(BM_Velk_CharSetFromName);

}  // namespace
