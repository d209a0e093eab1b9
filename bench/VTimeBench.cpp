// RFC 3339 text of times in UTC, written and read (VTime::GetRfc3339String, VTime::FromRfc3339String),
// against ICU's date formatter with the same pattern and zone on the same million times.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unicode/udat.h>

#include "kernel/strings/VString.h"
#include "kernel/values/VTime.h"

namespace {

using velk::VString;
using velk::VTime;

constexpr size_t kCOUNT = 1000000;
// Milliseconds since 1970 of the toolbox's millisecond count 0 (its day number 2440587 is 1970-01-01).
constexpr int64_t kUnixEpochCount = int64_t(2440587) * 86400000;
const UChar kPattern[] = u"yyyy-MM-dd'T'HH:mm:ss.SSS'Z'";

// Instants from 1970 to 2100, to the millisecond.
const std::vector<VTime>& Times()
{
	static const std::vector<VTime> times = [] {
		std::mt19937_64 random(42);
		std::uniform_int_distribution<int64_t> ms(0, int64_t(130) * 365 * 86400000);
		std::vector<VTime> result;
		result.reserve(kCOUNT);
		for (size_t i = 0; i < kCOUNT; ++i)
		{
			VTime t;
			t.FromMilliseconds(kUnixEpochCount + ms(random));
			result.push_back(t);
		}
		return result;
	}();
	return times;
}

const std::vector<VString>& Texts()
{
	static const std::vector<VString> texts = [] {
		std::vector<VString> result;
		result.reserve(kCOUNT);
		for (const VTime& t : Times())
		{
			VString text;
			t.GetRfc3339String(text, VTime::kRFC3339_UTC);
			result.push_back(text);
		}
		return result;
	}();
	return texts;
}

struct FormatCloser
{
	void operator()(UDateFormat* format) const { udat_close(format); }
};

std::unique_ptr<UDateFormat, FormatCloser> OpenIcuFormat()
{
	UErrorCode status = U_ZERO_ERROR;
	UDateFormat* format = udat_open(UDAT_PATTERN, UDAT_PATTERN, "en_US_POSIX", u"UTC", -1, kPattern, -1, &status);
	if (U_FAILURE(status))
		return nullptr;
	return std::unique_ptr<UDateFormat, FormatCloser>(format);
}

void BM_VTime_GetRfc3339String(benchmark::State& state)
{
	const std::vector<VTime>& times = Times();
	VString text;
	for (auto _ : state)
	{
		for (const VTime& t : times)
		{
			t.GetRfc3339String(text, VTime::kRFC3339_UTC);
			benchmark::DoNotOptimize(text.GetCPointer());
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(times.size()));
}
BENCHMARK(BM_VTime_GetRfc3339String)->Unit(benchmark::kMillisecond);

void BM_ICU_udat_format(benchmark::State& state)
{
	const std::vector<VTime>& times = Times();
	std::vector<UDate> dates;
	dates.reserve(times.size());
	for (const VTime& t : times)
		dates.push_back(UDate(t.GetMilliseconds() - kUnixEpochCount));
	const auto format = OpenIcuFormat();
	if (format == nullptr)
	{
		state.SkipWithError("ICU cannot open the pattern");
		return;
	}
	UChar buffer[64];
	// ICU must write the toolbox's own text, or the race is not run on the same work.
	UErrorCode check = U_ZERO_ERROR;
	const int32_t checkLength = udat_format(format.get(), dates[0], buffer, 64, nullptr, &check);
	if (U_FAILURE(check) || checkLength != Texts()[0].GetLength()
		|| std::char_traits<char16_t>::compare(reinterpret_cast<const char16_t*>(buffer), Texts()[0].GetCPointer(), size_t(checkLength)) != 0)
	{
		state.SkipWithError("ICU writes another text");
		return;
	}
	for (auto _ : state)
	{
		for (const UDate date : dates)
		{
			UErrorCode status = U_ZERO_ERROR;
			const int32_t length = udat_format(format.get(), date, buffer, 64, nullptr, &status);
			benchmark::DoNotOptimize(length);
			benchmark::DoNotOptimize(buffer);
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(dates.size()));
}
BENCHMARK(BM_ICU_udat_format)->Unit(benchmark::kMillisecond);

void BM_VTime_FromRfc3339String(benchmark::State& state)
{
	const std::vector<VString>& texts = Texts();
	VTime t;
	for (auto _ : state)
	{
		for (const VString& text : texts)
		{
			t.FromRfc3339String(text);
			benchmark::DoNotOptimize(t.GetStamp());
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(texts.size()));
}
BENCHMARK(BM_VTime_FromRfc3339String)->Unit(benchmark::kMillisecond);

void BM_ICU_udat_parse(benchmark::State& state)
{
	const std::vector<VString>& texts = Texts();
	const auto format = OpenIcuFormat();
	if (format == nullptr)
	{
		state.SkipWithError("ICU cannot open the pattern");
		return;
	}
	// The same pattern must read the toolbox's texts back, or the race is not run on the same work.
	UErrorCode check = U_ZERO_ERROR;
	const UDate first = udat_parse(format.get(), reinterpret_cast<const UChar*>(texts[0].GetCPointer()), texts[0].GetLength(), nullptr, &check);
	if (U_FAILURE(check) || first != UDate(Times()[0].GetMilliseconds() - kUnixEpochCount))
	{
		state.SkipWithError("ICU reads the texts differently");
		return;
	}
	for (auto _ : state)
	{
		for (const VString& text : texts)
		{
			UErrorCode status = U_ZERO_ERROR;
			const UDate date = udat_parse(format.get(), reinterpret_cast<const UChar*>(text.GetCPointer()), text.GetLength(), nullptr, &status);
			benchmark::DoNotOptimize(date);
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(texts.size()));
}
BENCHMARK(BM_ICU_udat_parse)->Unit(benchmark::kMillisecond);

}  // namespace
