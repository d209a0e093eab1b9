// Locales: the cultural conventions of a language and region (collation, case, formats), standing in for
// the system's locale object. A locale is immutable and shared by reference between threads.
#pragma once

#include <atomic>
#include <string>

namespace plat {

// The number texts of a locale.
enum class NumberSymbol
{
	kDecimalSeparator,
	kGroupingSeparator,
	kCurrencySymbol
};

class Locale
{
public:
	// A new locale (one reference) for a BCP 47 tag such as "fr-CA", "zh-Hans" or "en"; null when the
	// tag cannot be read.
	static Locale* Create(const char* bcp47Tag);
	// The user's current locale (one reference): the locale of CopyCurrentLocaleTag (PreferredLanguages.h);
	// null when it cannot be made.
	static Locale* CopyCurrent();

	void Retain() const { fRefCount.fetch_add(1, std::memory_order_relaxed); }
	void Release() const
	{
		if (fRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
			delete this;
	}

	// The collation and formatting library's name of the locale ("fr_CA", "zh_Hans", "en").
	const char* GetName() const { return fName.c_str(); }
	// The ISO 639 language code of the locale ("fr" for "fr_CA"); empty when it has none.
	std::string GetLanguageCode() const;
	// One of the locale's number texts ("," and "." for "de_DE"); a locale without a region has the generic
	// currency sign U+00A4, and the C locale (CopyCurrent's "en" for it) no currency symbol. Empty when the
	// library cannot give it.
	std::u16string GetNumberSymbol(NumberSymbol which) const;

private:
	explicit Locale(std::string name, bool hasCurrency = true) : fName(std::move(name)), fHasCurrency(hasCurrency) {}
	~Locale() = default;

	mutable std::atomic<int> fRefCount{1};
	std::string fName;
	bool fHasCurrency;
};

}  // namespace plat
