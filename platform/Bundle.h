// A bundle folder (an application "X.app", a framework "X.framework" or a plug-in) and what its layout and
// information dictionary say: the executable, the standard folders and the dictionary's string values.
// Plain C++ over the file system: usable before main. Only the dictionary is read at construction; the
// layout is looked at on each call. Every call may throw std::bad_alloc.
#pragma once

#include <string>
#include <vector>

#include "platform/MainBundle.h"

namespace plat {

// The standard folders of a bundle.
enum class BundleFolder
{
	kResources,
	kPlugIns,
	kFrameworks,
	kSharedSupport
};

class Bundle
{
public:
	// bundlePath names the folder (a trailing '/' is dropped). Its information dictionary is read now: an
	// application's Contents/Info.plist, a framework's Versions/Current/Resources/Info.plist (frameworks are
	// told by their extension, "framework" in any case), in XML or binary form. A bundle without a
	// readable dictionary has no strings but keeps its layout.
	explicit Bundle(const std::string& bundlePath);

	const std::string& GetPath() const { return fPath; }
	bool IsFramework() const { return fIsFramework; }

	// The path of the information dictionary, whether or not the file exists.
	std::string GetInfoDictionaryPath() const;
	bool HasInfoDictionary() const { return fHasInfoDictionary; }
	// False, value unchanged, when the dictionary has no such key or its value is not a string.
	bool GetInfoString(const std::string& key, std::string& value) const;

	// The executable: <code>/<CFBundleExecutable> when that file exists, else <code>/<bundle name without its
	// extension> when that one does, where <code> is Contents/MacOS for an application and Versions/Current
	// for a framework. "" when neither exists.
	std::string GetExecutablePath() const;
	// The same with bundleName (a folder name or path; its extension and trailing '/' aside) in place of the
	// bundle's own name: the executable that will be started once the bundle stands under that name.
	std::string GetExecutablePath(const std::string& bundleName) const;
	// Where the executable belongs under bundleName, whether or not it exists: <code>/<CFBundleExecutable>
	// when that is a plain name, else <code>/<bundleName without its extension>.
	std::string GetExpectedExecutablePath(const std::string& bundleName) const;

	// The folder's path (Contents/<Name> or Versions/Current/<Name>), without a trailing '/', whether or not
	// it exists.
	std::string GetFolderPath(BundleFolder folder) const;

	// The file of the resource named name, <Resources>/<name>, when it is a regular file; "" otherwise, and
	// for a name that is empty or holds a '/'.
	std::string FindResourceFile(const std::string& name) const;

	// The bundle's localizations: the names of its Resources/<name>.lproj folders, sorted.
	std::vector<std::string> GetLocalizations() const;
	// The localization to use for a user who prefers the given languages (BCP 47 tags, most preferred
	// first): the first preferred language that a localization names, case and '-' or '_' aside, else that
	// a localization names by its language alone; else the development region (CFBundleDevelopmentRegion);
	// else "".
	std::string GetPreferredLocalization(const std::vector<std::string>& preferredLanguages) const;

private:
	// Contents or Versions/Current, joined to the bundle path.
	std::string _GetVersionPath() const;
	// The folder of the executable, with a '/' behind.
	std::string _GetCodeFolder() const;

	std::string fPath;
	bool fIsFramework = false;
	bool fHasInfoDictionary = false;
	InfoStrings fStrings;
};

}  // namespace plat
