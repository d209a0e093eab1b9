#include "platform/Locale.h"

#include <iterator>
#include <new>

#include <unicode/uloc.h>
#include <unicode/unum.h>

#include "platform/PreferredLanguages.h"

namespace plat {

Locale* Locale::Create(const char* bcp47Tag)
{
	if (bcp47Tag == nullptr)
		return nullptr;
	char name[ULOC_FULLNAME_CAPACITY];
	UErrorCode status = U_ZERO_ERROR;
	int32_t parsed = 0;
	const int32_t length = uloc_forLanguageTag(bcp47Tag, name, sizeof(name), &parsed, &status);
	if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0)
		return nullptr;
	try
	{
		return new Locale(std::string(name, size_t(length)));
	}
	catch (const std::bad_alloc&)
	{
		return nullptr;
	}
}

Locale* Locale::CopyCurrent()
{
	const std::string tag = CopyCurrentLocaleTag();
	if (tag != kPOSIXLocaleTag)
		return tag.empty() ? nullptr : Create(tag.c_str());
	// The library's own POSIX locale sorts by code point and lends the C locale a dollar: English stands in,
	// without a currency.
	try
	{
		return new Locale("en", /*hasCurrency*/ false);
	}
	catch (const std::bad_alloc&)
	{
		return nullptr;
	}
}

std::string Locale::GetLanguageCode() const
try
{
	char language[ULOC_LANG_CAPACITY];
	UErrorCode status = U_ZERO_ERROR;
	const int32_t length = uloc_getLanguage(fName.c_str(), language, sizeof(language), &status);
	if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0)
		return std::string();
	return std::string(language, size_t(length));
}
catch (const std::bad_alloc&)
{
	return std::string();
}

std::u16string Locale::GetNumberSymbol(NumberSymbol which) const
try
{
	if (which == NumberSymbol::kCurrencySymbol && !fHasCurrency)
		return std::u16string();
	UErrorCode status = U_ZERO_ERROR;
	UNumberFormat* format = unum_open(UNUM_DECIMAL, nullptr, 0, fName.c_str(), nullptr, &status);
	if (U_FAILURE(status))
		return std::u16string();
	UNumberFormatSymbol symbol = UNUM_CURRENCY_SYMBOL;
	if (which == NumberSymbol::kDecimalSeparator)
		symbol = UNUM_DECIMAL_SEPARATOR_SYMBOL;
	else if (which == NumberSymbol::kGroupingSeparator)
		symbol = UNUM_GROUPING_SEPARATOR_SYMBOL;
	UChar text[64];
	const int32_t length = unum_getSymbol(format, symbol, text, int32_t(std::size(text)), &status);
	unum_close(format);
	// A symbol longer than the room is no symbol any locale has.
	if (U_FAILURE(status) || length <= 0 || length > int32_t(std::size(text)))
		return std::u16string();
	return std::u16string(reinterpret_cast<const char16_t*>(text), size_t(length));
}
catch (const std::bad_alloc&)
{
	return std::u16string();
}

}  // namespace plat
