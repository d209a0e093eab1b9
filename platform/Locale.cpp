#include "platform/Locale.h"

#include <new>

#include <unicode/uloc.h>

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
	const std::vector<std::string> languages = CopyPreferredLanguages();
	return languages.empty() ? nullptr : Create(languages.front().c_str());
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

}  // namespace plat
