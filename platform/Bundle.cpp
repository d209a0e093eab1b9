#include "platform/Bundle.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace plat {

namespace {

bool IsFile(const std::string& path)
{
	struct stat status;
	return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The last name of the path, and the same without its extension.
std::string GetLastName(const std::string& path)
{
	size_t slash = path.rfind('/');
	return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RemoveExtension(const std::string& name)
{
	size_t dot = name.rfind('.');
	return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The last name of a folder path, trailing '/' aside, without its extension.
std::string NameWithoutExtension(const std::string& folder)
{
	const size_t end = folder.find_last_not_of('/');
	return end == std::string::npos ? std::string() : RemoveExtension(GetLastName(folder.substr(0, end + 1)));
}

// A name that would leave the code folder names no executable of this bundle.
bool IsPlainName(const std::string& name)
{
	return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

bool HasFrameworkExtension(const std::string& name)
{
	static const std::string kExtension = ".framework";
	if (name.size() <= kExtension.size())
		return false;
	for (size_t i = 0; i < kExtension.size(); ++i)
		if (std::tolower(static_cast<unsigned char>(name[name.size() - kExtension.size() + i])) != kExtension[i])
			return false;
	return true;
}

// A language tag in one form for comparison: lower case, '_' as '-'.
std::string NormalizeTag(const std::string& tag)
{
	std::string normal = tag;
	for (char& each : normal)
		each = each == '_' ? '-' : char(std::tolower(static_cast<unsigned char>(each)));
	return normal;
}

std::string LanguageOfTag(const std::string& normalTag)
{
	return normalTag.substr(0, normalTag.find('-'));
}

}  // namespace

Bundle::Bundle(const std::string& bundlePath) : fPath(bundlePath)
{
	while (fPath.size() > 1 && fPath.back() == '/')
		fPath.pop_back();
	fIsFramework = HasFrameworkExtension(GetLastName(fPath));
	fHasInfoDictionary = ReadInfoDictionaryStrings(GetInfoDictionaryPath(), fStrings);
}

std::string Bundle::_GetVersionPath() const
{
	return fPath + (fIsFramework ? "/Versions/Current" : "/Contents");
}

std::string Bundle::GetInfoDictionaryPath() const
{
	return _GetVersionPath() + (fIsFramework ? "/Resources/Info.plist" : "/Info.plist");
}

bool Bundle::GetInfoString(const std::string& key, std::string& value) const
{
	auto found = fStrings.find(key);
	if (found == fStrings.end())
		return false;
	value = found->second;
	return true;
}

std::string Bundle::_GetCodeFolder() const
{
	return _GetVersionPath() + (fIsFramework ? "/" : "/MacOS/");
}

std::string Bundle::GetExecutablePath() const
{
	return GetExecutablePath(fPath);
}

std::string Bundle::GetExecutablePath(const std::string& bundleName) const
{
	const std::string expected = GetExpectedExecutablePath(bundleName);
	if (IsFile(expected))
		return expected;
	// A dictionary name that names no file: the bundle's own name still may.
	const std::string name = NameWithoutExtension(bundleName);
	const std::string fallback = _GetCodeFolder() + name;
	return !name.empty() && fallback != expected && IsFile(fallback) ? fallback : std::string();
}

std::string Bundle::GetExpectedExecutablePath(const std::string& bundleName) const
{
	std::string name;
	if (!GetInfoString("CFBundleExecutable", name) || !IsPlainName(name))
		name = NameWithoutExtension(bundleName);
	return _GetCodeFolder() + name;
}

std::string Bundle::GetFolderPath(BundleFolder folder) const
{
	switch (folder)
	{
		case BundleFolder::kResources:
			return _GetVersionPath() + "/Resources";
		case BundleFolder::kPlugIns:
			return _GetVersionPath() + "/PlugIns";
		case BundleFolder::kFrameworks:
			return _GetVersionPath() + "/Frameworks";
		case BundleFolder::kSharedSupport:
			return _GetVersionPath() + "/SharedSupport";
	}
	return std::string();
}

std::string Bundle::FindResourceFile(const std::string& name) const
{
	if (name.empty() || name.find('/') != std::string::npos)
		return std::string();
	const std::string path = GetFolderPath(BundleFolder::kResources) + "/" + name;
	return IsFile(path) ? path : std::string();
}

std::vector<std::string> Bundle::GetLocalizations() const
{
	static const std::string kExtension = ".lproj";
	std::vector<std::string> names;
	const std::string resources = GetFolderPath(BundleFolder::kResources);
	DIR* folder = ::opendir(resources.c_str());
	if (folder == nullptr)
		return names;
	while (const dirent* entry = ::readdir(folder))
	{
		const std::string name = entry->d_name;
		if (name.size() > kExtension.size() && name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) == 0)
		{
			struct stat status;
			if (::stat((resources + "/" + name).c_str(), &status) == 0 && S_ISDIR(status.st_mode))
				names.push_back(name.substr(0, name.size() - kExtension.size()));
		}
	}
	::closedir(folder);
	std::sort(names.begin(), names.end());
	return names;
}

std::string Bundle::GetPreferredLocalization(const std::vector<std::string>& preferredLanguages) const
{
	const std::vector<std::string> localizations = GetLocalizations();
	for (const std::string& preferred : preferredLanguages)
	{
		const std::string wanted = NormalizeTag(preferred);
		for (const std::string& localization : localizations)
			if (NormalizeTag(localization) == wanted)
				return localization;
		for (const std::string& localization : localizations)
			if (LanguageOfTag(NormalizeTag(localization)) == LanguageOfTag(wanted))
				return localization;
	}
	// No match: the language the bundle was developed in, else none (the caller's default).
	std::string region;
	if (GetInfoString("CFBundleDevelopmentRegion", region))
		return region;
	return std::string();
}

}  // namespace plat
