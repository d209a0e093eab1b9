// The user's preferred languages, most preferred first, as BCP 47 tags ("fr-FR", "pt-BR", "en"). Stands in
// for both the system's preferred-languages list and the per-user language preference, which Linux keeps
// in the environment only.
#pragma once

#include <string>
#include <vector>

namespace plat {

// The entries of LANGUAGE (a colon-separated list), then the first non-empty of LC_ALL, LC_MESSAGES and
// LANG, each as PosixLocaleToLanguageTag gives it. Entries that cannot be read, and repeats, are left
// out. "en" alone when nothing usable is set; empty only when memory is short.
// Reads the environment on every call; takes no lock (the environment must not change meanwhile).
std::vector<std::string> CopyPreferredLanguages();

// One environment value ("fr_CA.UTF-8", "C", "de_DE@euro") as a BCP 47 tag, without its ".codeset" and
// "@modifier" and canonicalised by ICU; "C" and "POSIX" read as "en", and Chinese is named by its script
// as the system names it ("zh_CN" is "zh-Hans", "zh_TW" "zh-Hant"). Empty when it names no language.
// May throw std::bad_alloc.
std::string PosixLocaleToLanguageTag(const std::string& posixLocale);

// The tag CopyCurrentLocaleTag gives for the C (POSIX) locale.
constexpr const char kPOSIXLocaleTag[] = "en-US-u-va-posix";

// The BCP 47 tag of the user's locale, region kept ("zh-CN", "fr-CA"): the first usable entry of the same
// list; kPOSIXLocaleTag when that entry is "C" or "POSIX", or when nothing usable is set. Empty only when
// memory is short. Reads the environment as CopyPreferredLanguages does.
std::string CopyCurrentLocaleTag();

}  // namespace plat
