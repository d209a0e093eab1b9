// Finding a program to run: an executable file named by path or found in a PATH list, and an application
// bundle in the usual application folders.
#pragma once

#include <string>
#include <vector>

namespace plat {

// A regular file whose execute bit applies to the effective user: the owner's bit when the user owns it,
// else the group's when the effective group matches, else the others'.
bool IsExecutableFile(const std::string& path);

// A name holding '/' is resolved to its real path and taken when executable. Any other name is tried in each
// folder of pathList (':'-separated, a '/' added where missing) and the first executable hit is taken; a
// candidate longer than PATH_MAX is skipped, never cut. False, found untouched, when none qualifies or the
// list is empty.
bool SearchExecutable(const std::string& name, const std::string& pathList, std::string& found);

// "<name>.app" (".app" appended unless the name ends with it in any case) as a folder in each of folders in
// turn; found is the bundle's path ending with '/'.
bool SearchApplicationBundle(const std::string& name, const std::vector<std::string>& folders, std::string& found);

}  // namespace plat
