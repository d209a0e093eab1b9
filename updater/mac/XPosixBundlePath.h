// The platform half of what the updater asks of the bundle paths it was given: whether two paths name one
// folder or one lies inside the other, compared by what the folders are on disk rather than by their
// texts, and where a path that is a symbolic link leads. Pushes nothing.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VFilePath;
class VString;

class VELK_API XPosixBundlePath
{
public:
	XPosixBundlePath() = delete;

	// Whether folder is container itself or lies at any depth inside it, links followed: container's device
	// and inode are looked for in folder and in each ancestor of folder's resolved path, so a link, a bind
	// mount or a second spelling of either path changes nothing. False when either cannot be reached.
	static bool IsSameOrInside(const VFilePath& folder, const VFilePath& container);

	// The resolved POSIX path of the folder (ending in '/') when the path's last name is a symbolic link that
	// leads, through any number of links, to a folder; "" otherwise (no link, a dangling link, a link to a
	// file) and when memory is short.
	static VString GetLinkedFolder(const VFilePath& path);
	// Where the path leads when its last name is a symbolic link, as GetLinkedFolder says, and also when the
	// last link of the chain dangles: each link's text is read against the folder that holds it, which is
	// resolved, so the answer names the entry that is missing (ending in '/'). "" when the last name is no
	// link, when the chain ends at something other than a folder, loops, or passes a folder that cannot be
	// reached.
	static VString GetLinkedPlace(const VFilePath& path);
};

}  // namespace velk
