// The well-known folders of the system and of the user (documents, caches, application data...), found by
// the XDG base-directory rules and the user-dirs settings. Paths are UTF-8 and end without a '/' (except
// "/" itself).
#pragma once

#include <string>

namespace plat {

// The system folder kinds, numbered as the toolbox numbers them:
//   0      the folder of the running program
//   1      XDG_DOCUMENTS_DIR of user-dirs.dirs, else $HOME/Documents
//   2      $TMPDIR, else /tmp
//   3      none
//   4, 6   the first of $XDG_DATA_DIRS, else /usr/local/share
//   5, 7   $XDG_DATA_HOME, else $HOME/.local/share; 12 the same
//   8      XDG_DESKTOP_DIR of user-dirs.dirs, else $HOME/Desktop
//   9      /Applications
//   10     /var/cache
//   11     $XDG_CACHE_HOME, else $HOME/.cache
//   13     $HOME, else the account's home folder
// user-dirs.dirs is read from $XDG_CONFIG_HOME, else $HOME/.config; its "$HOME/..." values are expanded.
// Environment values that are not absolute paths are ignored, as the XDG rules say.
//
// The folder of that kind (any int is accepted); 0 with an empty path for kind 3 and for numbers outside
// 0..13. Without create the path is given whether or not the folder exists. With create, what is missing
// is made: 0700 for the user's own kinds (1, 5, 7, 8, 11, 12, 13), 0755 for the others; an entry in the
// way that is not a folder gives ENOTDIR. ENOENT when the home folder or the program's path is unknown.
// path is written only on success.
int GetSystemFolder(int kind, bool create, std::string& path);

// The user's home folder: $HOME when set, else the account database's entry; false when neither is known.
bool GetHomeFolder(std::string& path);

}  // namespace plat
