// The platform halves of folder iteration: they read a folder's entries, choose them by the option bits and
// name each one by its native and POSIX paths. They push nothing: the first failure they meet (a folder that
// cannot be opened or read, a name that is not UTF-8) is kept for the caller, and the entry concerned is
// skipped.
#pragma once

#include "kernel/VExport.h"

#include <string>

#include "files/VFilePath.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class VFile;
class VFileSystem;
class VFolder;
class VTime;

// Where a folder lives on disk; two walks that meet the same identity stand in the same folder.
struct VFolderIdentity
{
	uint64 fDevice = 0;
	uint64 fInode = 0;
	bool operator==(const VFolderIdentity&) const = default;
};

// With option 4, FIFOs, sockets and devices are given as files too: for the walks that must meet every
// entry of a tree (deletions, copies). Listings leave them out.
constexpr uint32 kIterateSpecialEntries = 64;

// Reads one folder with the system's directory calls. Option bits: 2 folders, 4 files (and links that are
// not resolved), 8 names beginning with '.' kept, 16 symbolic links replaced by their targets' real paths (a
// dangling link, or one that loops, is left out), 64 special entries as files. With a file system, nothing
// whose real path leaves its root is given.
class VELK_API XMacFSObjectIterator_posix
{
public:
	XMacFSObjectIterator_posix(const VFolder& folder, uint32 options);
	XMacFSObjectIterator_posix(const XMacFSObjectIterator_posix&) = delete;
	XMacFSObjectIterator_posix& operator=(const XMacFSObjectIterator_posix&) = delete;
	virtual ~XMacFSObjectIterator_posix();

	// Moves to the next entry kept: path receives its native path, posixPath its POSIX path ('/' ending a
	// folder's). False at the end, or when the folder could not be read further (GetError says which).
	bool GetNextPath(VFilePath& path, std::string& posixPath);
	// The first failure met, 0 when none: 'POSX' with the errno, EILSEQ for a name that is not UTF-8.
	VError GetError() const { return fError; }
	// The folder read, as opened (its links followed); false when it could not be opened.
	bool GetFolderIdentity(VFolderIdentity& identity) const;
	// Times of the current entry (a folder's or a resolved link's target, a link itself otherwise).
	VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const;

protected:
	VFileSystem* GetFileSystem() const { return fFileSystem; }
	// Keeps the first failure.
	void _Fail(int errorNumber);

private:
	// The entry named fName: its kind, following it under option 16; false to leave it out.
	bool _Accept(unsigned char type);
	bool _MakePath(VFilePath& path);

	uint32 fOptions = 0;
	VFileSystem* fFileSystem = nullptr;  // not retained: the folder holds it
	void* fDirectory = nullptr;  // the open directory stream
	std::string fBasePath;  // the folder's real POSIX path, ending with '/'
	VString fBaseNative;  // its native text, ending with ':'
	std::string fName;
	std::string fCurrentPath;
	bool fCurrentIsFolder = false;
	bool fCurrentResolved = false;
	std::string fRootRealPath;  // the file system's root, real, ending with '/'; empty without one
	VFilePath fRoot;
	VFolderIdentity fIdentity;
	bool fOpened = false;
	VError fError = VE_OK;
};

class VELK_API XMacFolderIterator_posix : public XMacFSObjectIterator_posix
{
public:
	// Sub-folders only: bit 4 is cleared.
	static XMacFolderIterator_posix* Create(const VFolder& folder, uint32 options);
	XMacFolderIterator_posix(const VFolder& folder, uint32 options);
	// The next sub-folder, new (the caller releases it), with the folder's file system; null at the end.
	VFolder* Next();
};

// The file iterators of every volume.
class VELK_API IMacFileIterator
{
public:
	// The POSIX iterator whatever the volume, with bit 2 cleared: files only.
	static IMacFileIterator* Create(const VFolder& folder, uint32 options);
	virtual ~IMacFileIterator() = default;
	// The next file, new (the caller releases it); null at the end.
	virtual VFile* Next() = 0;
	virtual VError GetError() const = 0;
	virtual bool GetFolderIdentity(VFolderIdentity& identity) const = 0;
	virtual VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const = 0;
};

class VELK_API XMacFileIterator_posix : public IMacFileIterator, public XMacFSObjectIterator_posix
{
public:
	XMacFileIterator_posix(const VFolder& folder, uint32 options);
	VFile* Next() override;
	VError GetError() const override { return XMacFSObjectIterator_posix::GetError(); }
	bool GetFolderIdentity(VFolderIdentity& identity) const override
	{
		return XMacFSObjectIterator_posix::GetFolderIdentity(identity);
	}
	VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const override
	{
		return XMacFSObjectIterator_posix::GetTimeAttributes(modified, created, accessed);
	}
};

}  // namespace velk
