// Locale-aware comparison and search of UTF-16 text, standing in for the system's string comparison with a
// locale. One collator per locale and strength is made on first use and shared by every thread for the
// process's life; it is never changed after it is made, so concurrent use needs no lock.
#pragma once

#include <cstdint>

struct UCollator;

namespace plat {

class Locale;

class Collator
{
public:
	// The shared collator of the locale. With diacritics it respects case and accents; without, it ignores
	// both. Either way it ignores width (fullwidth "ａ" equals "a") and compares canonically equivalent texts
	// as equal. Null when the collation library cannot make it (or memory is short).
	static const Collator* Get(const Locale& locale, bool withDiacritics);

	Collator(const Collator&) = delete;
	Collator& operator=(const Collator&) = delete;

	// -1, 0 or 1.
	int Compare(const char16_t* text1, int32_t length1, const char16_t* text2, int32_t length2) const;

	// Whether the pattern occurs in the text; the 0-based start and the length of the first match, which
	// may differ from the pattern's length. False (start and length untouched) when the pattern is empty,
	// has no match, or the search cannot be made.
	bool Find(const char16_t* text, int32_t textLength, const char16_t* pattern, int32_t patternLength,
		int32_t* outStart, int32_t* outLength) const;

private:
	Collator(UCollator* collator, bool withDiacritics) : fCollator(collator), fWithDiacritics(withDiacritics) {}
	~Collator() = default;

	UCollator* fCollator;
	bool fWithDiacritics;
};

}  // namespace plat
