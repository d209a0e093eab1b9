// Putting the up-to-date bundle in the outdated one's place without ever leaving none: the old bundle goes
// aside under a free temporary name, the new one is copied in, and a failed copy is rolled back. Also the
// updater's copy and search helpers for files and folders.
#pragma once

#include "runtime/VError.h"

namespace velk {

class VFilePath;
class VFolder;
class VString;

// The old bundle, retained, under its temporary name; null on failure (errors pushed, the old bundle back
// at its place). The outdated bundle is renamed aside in five attempts 3000 ms apart (the call blocks
// meanwhile); the up-to-date one is then copied to destination. A failed copy is deleted, by force when
// needed, or else moved aside under a "failed" name, before the old bundle gets its name back.
VFolder* _SwapApplications(const VFolder& outdated, const VFolder& upToDate, const VFolder& destination);
// path with its folder name (extension kept) followed by "_" + suffix + a four-digit counter from 0001
// (no "_" for an empty suffix): the first candidate free of any entry; false when all 9999 are taken.
bool _ComputeTempFolderPath(const VFilePath& path, VFilePath& out, const VString& suffix);

// Copies the file (VFile::CopyTo options), its destination's folder made first. A folder not made pushes
// its error again with "path"; a failed copy pushes 'UPRy' 8 with "srcPath" and "dstPath". Answers the
// error pushed last, 0 on success.
VError RobustCopyFile(const VFilePath& source, const VFilePath& destination, uint32 options);
// Copies what source holds into destination (made when missing). A missing source pushes velk 650, other
// failures their error again, with "path"; false then.
bool RobustCopyFolderContent(const VFolder& source, const VFolder& destination, uint32 options);
bool RobustCopyFolderContent(const VFilePath& source, const VFilePath& destination, uint32 options);
// out := the first file of the folder (directory order, not recursive) whose extension equals extension
// regardless of case and diacritics. Answers velk 3 for a path that is no folder path (out untouched),
// velk 600 when no file matches (out cleared); pushes nothing.
VError FindFileByExt(const VFolder& folder, const VString& extension, VFilePath& out);
VError FindFileByExt(const VFilePath& folder, const VString& extension, VFilePath& out);

}  // namespace velk
