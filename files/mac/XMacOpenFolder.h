// A folder held open by a walk over its tree, for the folder copies made item by item: its entries are
// listed, entered, made and copied relative to it, so that a folder swapped for a symbolic link meanwhile is
// never entered and a copy writes into the folder it checked, whatever happens to the folders' paths. Names
// are UTF-8 bytes as the system gives them. Answers native codes ('POSX' with the errno, 0 on success) and
// pushes nothing.
#pragma once

#include <string>
#include <vector>

#include "files/mac/XMacFileIterator.h"
#include "files/mac/XMacFolder.h"
#include "runtime/VError.h"

namespace velk {

class VFilePath;

class XMacOpenFolder
{
public:
	XMacOpenFolder() = default;
	~XMacOpenFolder();
	XMacOpenFolder(const XMacOpenFolder&) = delete;
	XMacOpenFolder& operator=(const XMacOpenFolder&) = delete;

	// Opens the folder at path; a final link is followed, as a listing follows it. 'POSX' ENOTDIR when it
	// is no folder.
	VError Open(const VFilePath& path);
	// Opens the sub-folder name of parent. Without follow a link is never followed: 'POSX' ELOOP for a
	// link, ENOTDIR for any other entry that is no folder (any more). With follow, a link to a folder is
	// (a destination's, which its owner made).
	VError OpenSub(const XMacOpenFolder& parent, const std::string& name, bool follow);
	// Makes the sub-folder name of parent (0755 less the umask) and opens it without following a link:
	// 'POSX' EEXIST when anything is at name.
	VError MakeSub(const XMacOpenFolder& parent, const std::string& name);

	bool IsOpen() const { return fDescriptor >= 0; }
	// Where the folder opened lives; zeros when it is not open.
	VFolderIdentity GetIdentity() const;

	// The names of the folder's entries in directory order: folders apart from the rest (files, links and
	// special entries), each as the system says it is, asked of the entry itself (never following a link)
	// where the listing does not say. The listing's failure is answered; the names read before it are kept.
	VError List(std::vector<std::string>& folders, std::vector<std::string>& others) const;
	// Whether anything is at name (following a link when follow); isFolder says whether it is a folder.
	bool HasEntry(const std::string& name, bool follow, bool& isFolder) const;

	// Copies the entry name, which is no folder, to to as plat::CopyFile copies it (a link as a link);
	// from names it in failures and test faults. Off the calling fiber, as every copy.
	VError CopyEntry(const std::string& name, const std::string& from, const std::string& to, bool replace) const;
	// Copies this folder's whole tree natively to the new folder to (plat::CopyTreeFrom); from names it.
	VError CopyTree(const std::string& from, const std::string& to) const;
	// Copies this folder's whole tree natively into a hidden folder beside the entry at to, named in staging
	// (plat::CopyTreeBesideFrom).
	VError CopyTreeBeside(const std::string& from, const std::string& to, std::string& staging) const;

	// Removes the entry name with everything in it as XMacFolder::DeleteTree removes a folder; path names it
	// in stop.
	VError RemoveSub(const std::string& name, const std::string& path, XMacRemovalStop& stop) const;

	// A path that reaches name in this folder whatever happens to the folder's own path meanwhile, for the
	// calls that take paths (plat::PathBelow); fallback where the system cannot give one.
	std::string PathTo(const std::string& name, const std::string& fallback) const;

private:
	int fDescriptor = -1;
};

}  // namespace velk
