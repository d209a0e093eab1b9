// The steps of walks over folder trees that another process may change while they run. A walk holds each
// folder it enters open and reaches the entries below it relative to that folder, never through a symbolic
// link: a folder swapped for a link after it was listed fails to open instead of leading out of the tree.
// Names and paths are UTF-8 bytes; every call answers 0 or the errno of the call that failed. No call throws
// but for memory (std::bad_alloc).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Opens the sub-folder name of the folder open at folder, for reading (close-on-exec): ELOOP when name is a
// symbolic link, which is not followed, ENOTDIR when it is no folder, and, with sameMount, EXDEV when it is
// the root of another mount (a bind mount of the same file system too).
int OpenSubFolder(int folder, const char* name, bool sameMount, int& descriptor);

// Opens relative, names joined by '/', below the folder open at folder, with flags and mode as for openat:
// no symbolic link is followed on the way nor at the end (ELOOP), and nothing outside folder is reached.
// For entries a walk listed earlier: a folder on the way that was swapped for a link since fails the open.
int OpenBelow(int folder, const char* relative, int flags, mode_t mode, int& descriptor);

// What a listing says an entry is; kUnknown where the file system does not say (ask the entry itself).
enum class EntryKind
{
	kUnknown,
	kFolder,
	kFile,
	kLink,
	kSpecial,  // a FIFO, a socket or a device
};

struct FolderEntry
{
	std::string name;
	EntryKind kind = EntryKind::kUnknown;
};

// The entries of the folder open at folder, in directory order, "." and ".." left out. The listing reads
// from the folder's start through the descriptor itself (and so moves the offset it shares with its
// duplicates). entries is emptied on failure.
int ListFolder(int folder, std::vector<FolderEntry>& entries);

// A path that reaches relative below the folder open at folder whatever happens to the folder's own path
// meanwhile (through /proc/self/fd), for the calls that take only paths (a final link in relative is not
// followed by l-calls; links on the way are, so relative should name entries of a tree the caller made or
// checked). Where /proc is not mounted: fallback. An empty relative names the folder itself.
std::string PathBelow(int folder, const std::string& relative, const std::string& fallback);

// The path of the file or folder open at descriptor as the system names it now; empty when it cannot say.
std::string PathOfDescriptor(int descriptor);

// The entries of the tree at path, the entry itself included: 0 when nothing is there, 1 for a file or a
// link (never followed). Folders are entered relative to the folder above them and only on the tree's own
// mount (the root of another mount counts as one entry); a folder that cannot be read counts as one.
int64_t CountTreeEntries(const char* path);

#ifdef VELK_TEST_HOOKS
// Makes the walks open their entries without openat2, one name at a time and comparing mounts after the
// open, as on a kernel that lacks it; false goes back to openat2 where the kernel has it. Process-wide.
void SetOpenWithoutResolveFlagsForTesting(bool without);
#endif

}  // namespace plat
