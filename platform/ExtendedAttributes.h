// Copying an entry's extended attributes (access lists and capabilities among them) to another entry: the
// one way both the tree copy and the whole-content write keep them.
#pragma once

#include <vector>

namespace plat {

// Copies every extended attribute of the entry from to the entry to, each through its descriptor when it
// is given (>= 0), else by path without following a link. names and value are scratch buffers, kept by
// the caller so that a walk over many entries reuses them. Linux allows no user attributes on links, and
// only the destination decides on attributes outside the user namespace: those refusals are never
// failures, nor are those of a destination whose file system has no attributes (FileSystemLacks: a FAT
// volume). Strict, a user attribute that cannot be kept otherwise fails the copy with its errno (as does an
// attribute list or value that cannot be read); not strict, what cannot be read or written is left behind
// and the call answers 0. A source whose file system has no attributes answers 0.
int CopyExtendedAttributes(int fromFd, const char* from, int toFd, const char* to, bool isLink, bool strict,
	std::vector<char>& names, std::vector<char>& value);

}  // namespace plat
