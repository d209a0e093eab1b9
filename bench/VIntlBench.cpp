// Comparing 100,000 short words pairwise through the system collator (and the international manager that
// forwards to it), against the collation library called directly with the same strength, and against a raw
// unit-by-unit comparison.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include <unicode/ucol.h>

#include "kernel/intl/VCollator_system.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/memory/VRefPtr.h"

namespace {

using velk::VCollator;
using velk::VCollator_system;
using velk::VIntlMgr;
using velk::VRefPtr;

constexpr uint32_t kENGLISH_US = 0x0409;
constexpr int kWORDS = 100000;

// Words of 3 to 10 letters, one letter in eight accented or capital, from a fixed linear congruential series.
const std::vector<std::u16string>& GetWords()
{
	static const std::vector<std::u16string> sWords = [] {
		static const char16_t kRARE[] = u"\u00E9\u00E8\u00FC\u00E7\u00F1ABCEZ";
		std::vector<std::u16string> words;
		words.reserve(kWORDS);
		uint32_t seed = 12345;
		auto next = [&seed] {
			seed = seed * 1664525u + 1013904223u;
			return seed >> 8;
		};
		for (int i = 0; i < kWORDS; ++i)
		{
			std::u16string word;
			const uint32_t length = 3 + next() % 8;
			for (uint32_t j = 0; j < length; ++j)
			{
				const uint32_t r = next();
				word.push_back((r % 8 == 0) ? kRARE[(r >> 3) % 10] : char16_t(u'a' + (r >> 3) % 26));
			}
			words.push_back(std::move(word));
		}
		return words;
	}();
	return sWords;
}

template <typename Compare>
void RunPairs(benchmark::State& state, Compare&& compare)
{
	const std::vector<std::u16string>& words = GetWords();
	for (auto _ : state)
	{
		int64_t sum = 0;
		for (int i = 0; i + 1 < kWORDS; ++i)
			sum += compare(words[i], words[i + 1]);
		benchmark::DoNotOptimize(sum);
	}
	state.SetItemsProcessed(state.iterations() * (kWORDS - 1));
}

void BM_CollatorCompare(benchmark::State& state)
{
	const bool withDiacritics = state.range(0) != 0;
	VRefPtr<VCollator> collator(VCollator_system::Create(kENGLISH_US, nullptr), true);
	if (!collator)
	{
		state.SkipWithError("no collator");
		return;
	}
	RunPairs(state, [&](const std::u16string& a, const std::u16string& b) {
		return collator->CompareString(a.data(), int32_t(a.size()), b.data(), int32_t(b.size()), withDiacritics);
	});
}

void BM_IntlMgrCompare(benchmark::State& state)
{
	const bool withDiacritics = state.range(0) != 0;
	VRefPtr<VIntlMgr> manager(VIntlMgr::Create(kENGLISH_US, kENGLISH_US, 1), true);
	if (!manager || manager->GetCollator() == nullptr)
	{
		state.SkipWithError("no manager with a collator");
		return;
	}
	RunPairs(state, [&](const std::u16string& a, const std::u16string& b) {
		return manager->CompareString(a.data(), int32_t(a.size()), b.data(), int32_t(b.size()), withDiacritics);
	});
}

// The collation library directly, with the strengths the platform layer gives its collators.
void BM_IcuStrcoll(benchmark::State& state)
{
	const bool withDiacritics = state.range(0) != 0;
	UErrorCode status = U_ZERO_ERROR;
	UCollator* collator = ucol_open("en_US", &status);
	ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
	ucol_setAttribute(collator, UCOL_STRENGTH, withDiacritics ? UCOL_SECONDARY : UCOL_PRIMARY, &status);
	ucol_setAttribute(collator, UCOL_CASE_LEVEL, withDiacritics ? UCOL_ON : UCOL_OFF, &status);
	if (U_FAILURE(status))
	{
		state.SkipWithError("no ICU collator");
		ucol_close(collator);
		return;
	}
	RunPairs(state, [&](const std::u16string& a, const std::u16string& b) {
		return int(ucol_strcoll(collator, a.data(), int32_t(a.size()), b.data(), int32_t(b.size())));
	});
	ucol_close(collator);
}

void BM_RawUnitCompare(benchmark::State& state)
{
	RunPairs(state, [](const std::u16string& a, const std::u16string& b) {
		const int c = a.compare(b);
		return (c < 0) ? -1 : (c > 0) ? 1 : 0;
	});
}

}  // namespace

BENCHMARK(BM_CollatorCompare)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntlMgrCompare)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IcuStrcoll)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawUnitCompare)->Unit(benchmark::kMillisecond);
