// The main bundle (the folder holding the running executable as <X>/Contents/MacOS/<name>) and the string
// values of its information dictionary <X>/Contents/Info.plist. Usable from static initializers before main.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace plat {

// The string values of an information dictionary, by key.
using InfoStrings = std::map<std::string, std::string>;

// The bundle folder of an executable at executablePath: <X> when the path is <X>/Contents/MacOS/<name>
// ("/" when <X> is empty), "" otherwise. Purely textual: nothing is read from disk, case is significant.
std::string FindBundlePathForExecutable(const std::string& executablePath);

// Reads the property list file at plistPath (XML or binary form) and puts every string value of its top-level
// dictionary into strings, replacing what was there. Values of other kinds are left out. False, with strings
// emptied, when the file cannot be read or its top level is not a dictionary.
bool ReadInfoDictionaryStrings(const std::string& plistPath, InfoStrings& strings);

// The main bundle's folder, found once from /proc/self/exe; "" when the executable is not inside a bundle.
std::string GetMainBundlePath();

// The running executable's path, as the kernel gives it (links resolved); "" when it cannot be read.
std::string GetMainExecutablePath();

// The string value of key in the main bundle's information dictionary (read once, on first use).
// False, value unchanged, when there is no bundle, no dictionary, no such key or the value is not a string.
bool GetMainBundleInfoString(const std::string& key, std::string& value);

#ifdef VELK_TEST_HOOKS
// Overrides one key of the main bundle's dictionary: a value replaces what the file says, nullopt makes the key
// absent. Overrides stay until ClearMainBundleOverridesForTesting.
void SetMainBundleInfoStringForTesting(const std::string& key, const std::optional<std::string>& value);

// Makes bundlePath the main bundle (its Contents/Info.plist is read now); nullopt goes back to the bundle found
// from the executable. Key overrides are kept.
void SetMainBundlePathForTesting(const std::optional<std::string>& bundlePath);

// Drops every key override and any bundle folder set by SetMainBundlePathForTesting.
void ClearMainBundleOverridesForTesting();

// Writes strings as a property list dictionary to plistPath, in binary form or as XML. False when the file
// cannot be written.
bool WriteInfoDictionaryStringsForTesting(const std::string& plistPath, const InfoStrings& strings, bool binary);
#endif

}  // namespace plat
