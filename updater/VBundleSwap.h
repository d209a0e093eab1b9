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
// at its place).
VFolder* _SwapApplications(const VFolder& outdated, const VFolder& upToDate, const VFolder& destination);
// path with its folder name (extension kept) followed by "_" + suffix + a four-digit counter from 0001
// (no "_" for an empty suffix): the first candidate free of any entry; false when all 9999 are taken.
bool _ComputeTempFolderPath(const VFilePath& path, VFilePath& out, const VString& suffix);

VError RobustCopyFile(const VFilePath& source, const VFilePath& destination, uint32 options);
bool RobustCopyFolderContent(const VFolder& source, const VFolder& destination, uint32 options);
bool RobustCopyFolderContent(const VFilePath& source, const VFilePath& destination, uint32 options);
VError FindFileByExt(const VFolder& folder, const VString& extension, VFilePath& out);
VError FindFileByExt(const VFilePath& folder, const VString& extension, VFilePath& out);

}  // namespace velk
