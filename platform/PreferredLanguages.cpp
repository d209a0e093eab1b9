#include "platform/PreferredLanguages.h"

#include <stdlib.h>

#include <algorithm>
#include <new>

#include <unicode/uloc.h>

namespace plat {

namespace {

// One environment value as a BCP 47 tag that keeps its region ("zh-CN", "fr-CA"); kPOSIXLocaleTag for
// "C" and "POSIX"; empty when it names no language.
std::string PosixLocaleToLocaleTag(const std::string& posixLocale)
{
	std::string name = posixLocale.substr(0, posixLocale.find_first_of(".@"));
	if (name == "C" || name == "POSIX")
		return kPOSIXLocaleTag;
	if (name.empty())
		return std::string();
	char canonical[ULOC_FULLNAME_CAPACITY];
	UErrorCode status = U_ZERO_ERROR;
	const int32_t canonicalLength = uloc_canonicalize(name.c_str(), canonical, sizeof(canonical), &status);
	if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || canonicalLength <= 0)
		return std::string();
	char tag[ULOC_FULLNAME_CAPACITY];
	status = U_ZERO_ERROR;
	const int32_t tagLength = uloc_toLanguageTag(canonical, tag, sizeof(tag), /*strict*/ true, &status);
	if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || tagLength <= 0)
		return std::string();
	std::string result(tag, size_t(tagLength));
	// ICU's tag for a name it cannot read as a language.
	if (result == "und")
		return std::string();
	return result;
}

// The locale values of the environment, most preferred first: the entries of LANGUAGE, then the first
// non-empty of LC_ALL, LC_MESSAGES and LANG.
std::vector<std::string> EnvironmentLocales()
{
	std::vector<std::string> values;
	if (const char* list = getenv("LANGUAGE"))
	{
		const std::string text(list);
		size_t start = 0;
		while (start <= text.size())
		{
			size_t end = text.find(':', start);
			if (end == std::string::npos)
				end = text.size();
			values.push_back(text.substr(start, end - start));
			start = end + 1;
		}
	}
	for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
	{
		const char* value = getenv(name);
		if (value != nullptr && value[0] != 0)
		{
			values.emplace_back(value);
			break;
		}
	}
	return values;
}

}  // namespace

std::string PosixLocaleToLanguageTag(const std::string& posixLocale)
{
	const std::string tag = PosixLocaleToLocaleTag(posixLocale);
	if (tag == kPOSIXLocaleTag)
		return "en";
	// The system names Chinese by its script: the mainland writes the simplified one, Taiwan the
	// traditional one.
	if (tag == "zh-CN")
		return "zh-Hans";
	if (tag == "zh-TW")
		return "zh-Hant";
	return tag;
}

std::vector<std::string> CopyPreferredLanguages()
try
{
	std::vector<std::string> languages;
	for (const std::string& value : EnvironmentLocales())
	{
		std::string tag = PosixLocaleToLanguageTag(value);
		if (!tag.empty() && std::find(languages.begin(), languages.end(), tag) == languages.end())
			languages.push_back(std::move(tag));
	}
	if (languages.empty())
		languages.emplace_back("en");
	return languages;
}
catch (const std::bad_alloc&)
{
	return std::vector<std::string>();
}

std::string CopyCurrentLocaleTag()
try
{
	for (const std::string& value : EnvironmentLocales())
	{
		std::string tag = PosixLocaleToLocaleTag(value);
		if (!tag.empty())
			return tag;
	}
	return kPOSIXLocaleTag;
}
catch (const std::bad_alloc&)
{
	return std::string();
}

}  // namespace plat
