// Platform locales and the user's preferred languages read from the environment.
#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/PreferredLanguages.h"
#include "platform/ScopedLocaleVariables.h"

namespace plat {
namespace {


TEST(LocaleTest, PosixLocalesBecomeLanguageTags)
{
	const std::pair<const char*, const char*> rows[] = {
		{"fr_FR", "fr-FR"}, {"fr_CA.UTF-8", "fr-CA"}, {"de_DE@euro", "de-DE"}, {"pt_BR.ISO-8859-1@x", "pt-BR"},
		{"C", "en"}, {"POSIX", "en"}, {"C.UTF-8", "en"}, {"en", "en"}, {"sr_RS@latin", "sr-RS"}, {"", ""}, {".UTF-8", ""},
		// Chinese is named by its script, as the system does; other regions keep theirs.
		{"zh_TW", "zh-Hant"}, {"zh_CN.UTF-8", "zh-Hans"}, {"zh_HK", "zh-HK"},
	};
	for (const auto& [posix, tag] : rows)
		EXPECT_EQ(PosixLocaleToLanguageTag(posix), tag) << posix;
}

TEST(LocaleTest, PreferredLanguagesComeFromTheEnvironmentInOrder)
{
	struct Row
	{
		const char* language;
		const char* all;
		const char* messages;
		const char* lang;
		std::vector<std::string> expected;
	};
	const Row rows[] = {
		{nullptr, nullptr, nullptr, nullptr, {"en"}},
		{"", "", "", "", {"en"}},
		{nullptr, nullptr, nullptr, "de_AT.UTF-8", {"de-AT"}},
		{nullptr, "it_IT", "es_ES", "de_AT", {"it-IT"}},
		{nullptr, "", "es_ES", "de_AT", {"es-ES"}},
		{"fr_CA:fr::en_GB", nullptr, nullptr, "fr_CA.UTF-8", {"fr-CA", "fr", "en-GB"}},
		{"sv", "C", nullptr, nullptr, {"sv", "en"}},
	};
	for (const Row& row : rows)
	{
		StLocaleVariables variables(row.language, row.all, row.messages, row.lang);
		EXPECT_EQ(CopyPreferredLanguages(), row.expected) << (row.lang ? row.lang : "-");
	}
}

TEST(LocaleTest, CurrentLocaleKeepsTheRegionAndTheCLocaleHasNoCurrency)
{
	struct Row
	{
		const char* language;
		const char* lang;
		const char* name;
		std::u16string currency;
	};
	const Row rows[] = {
		{nullptr, "zh_CN.UTF-8", "zh_CN", u"\u00A5"},
		{nullptr, "zh_TW", "zh_TW", u"$"},
		{nullptr, "C", "en", u""},
		{nullptr, "POSIX", "en", u""},
		{nullptr, nullptr, "en", u""},
		{"sv", "C", "sv", u"\u00A4"},
		{nullptr, "de_DE", "de_DE", u"\u20AC"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.lang != nullptr ? row.lang : "-");
		StLocaleVariables variables(row.language, nullptr, nullptr, row.lang);
		Locale* current = Locale::CopyCurrent();
		ASSERT_NE(current, nullptr);
		EXPECT_STREQ(current->GetName(), row.name);
		EXPECT_EQ(current->GetNumberSymbol(NumberSymbol::kCurrencySymbol), row.currency);
		EXPECT_EQ(current->GetNumberSymbol(NumberSymbol::kDecimalSeparator).empty(), false);
		current->Release();
	}
}

TEST(LocaleTest, CurrentLocaleIsTheFirstPreferredLanguage)
{
	StLocaleVariables variables("pt_BR:fr", nullptr, nullptr, "de_DE");
	Locale* current = Locale::CopyCurrent();
	ASSERT_NE(current, nullptr);
	EXPECT_STREQ(current->GetName(), "pt_BR");
	EXPECT_EQ(current->GetLanguageCode(), "pt");
	current->Release();

	Locale* hans = Locale::Create("zh-Hans");
	ASSERT_NE(hans, nullptr);
	EXPECT_STREQ(hans->GetName(), "zh_Hans");
	EXPECT_EQ(hans->GetLanguageCode(), "zh");
	hans->Release();
}

}  // namespace
}  // namespace plat
