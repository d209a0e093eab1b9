// The user's preferred languages, most preferred first, as BCP 47 tags ("fr-FR", "pt-BR", "en"). Stands in
// for both the system's preferred-languages list and the per-user language preference, which Linux keeps
// in the environment only.
#pragma once

#include <string>
#include <vector>

namespace plat {

// The entries of LANGUAGE (a colon-separated list), then the first non-empty of LC_ALL, LC_MESSAGES and
// LANG; each without its ".codeset" and "@modifier", "C" and "POSIX" read as "en", canonicalised by ICU.
// Entries that cannot be read, and repeats, are left out. "en" alone when nothing usable is set; empty
// only when memory is short.
// Reads the environment on every call; takes no lock (the environment must not change meanwhile).
std::vector<std::string> CopyPreferredLanguages();

// One environment value ("fr_CA.UTF-8", "C", "de_DE@euro") as a BCP 47 tag; empty when it names no
// language. May throw std::bad_alloc.
std::string PosixLocaleToLanguageTag(const std::string& posixLocale);

}  // namespace plat
