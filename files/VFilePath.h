// The value that names a file or a folder everywhere in the toolbox: a native full path, the volume name
// then every folder name each followed by ':', then for a file its name ("Root:home:me:notes.txt"; a folder
// path ends with ':'). POSIX paths are accepted and produced only at the edges, by conversion. The class
// never touches the file system.
#pragma once

#include "kernel/VExport.h"

#include "files/IFileSystemObject.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class VFolder;

// How the path texts of URLs are written: '/' separated, ':' separated native, '\' separated.
enum EURLPathStyle : int32
{
	eURL_POSIX_STYLE = 0,
	eURL_HFS_STYLE = 1,
	eURL_WIN_STYLE = 2
};

class VELK_API VFilePath : public VObject
{
public:
	// Empty and invalid.
	VFilePath();
	// From a full path (FromFullPath).
	VFilePath(const VString& path, FilePathStyle style, bool unused = false);
	// From a path relative to a base folder (FromRelativePath).
	VFilePath(const VFilePath& base, const VString& relative, FilePathStyle style, bool relativeOnly = false);
	VFilePath(const VFilePath& other);
	VFilePath& operator=(const VFilePath& other) { return FromFilePath(other); }
	~VFilePath() override;

	// A native text (any style but FPS_POSIX) or a POSIX one beginning with '/'. Parent steps ("::" native,
	// ".." POSIX) are resolved; one that would remove the volume makes the path invalid, as does an empty
	// text, a text holding U+0000, or a POSIX text that is not UTF-16 able to become UTF-8. Never raises.
	VFilePath& FromFullPath(const VString& path, FilePathStyle style, bool unused = false);
	// base + relative. A POSIX relative text beginning with '/' is a full path (the base ignored) unless
	// relativeOnly, which makes it invalid. Invalid too when base is not a valid folder path, when relative
	// holds U+0000, or when its parent steps climb above the volume. base may be this path.
	VFilePath& FromRelativePath(const VFilePath& base, const VString& relative, FilePathStyle style, bool relativeOnly = false);
	// The same from the folder's path.
	VFilePath& FromRelativePath(const VFolder& base, const VString& relative, FilePathStyle style, bool relativeOnly = false);
	VFilePath& FromFilePath(const VFilePath& other);
	// Empty and invalid.
	void Clear();

	bool IsValid() const { return fIsValid; }
	bool IsFolder() const { return fIsValid && !fPath.IsEmpty() && _LastUnit() == u':'; }
	bool IsFile() const { return fIsValid && !fPath.IsEmpty() && _LastUnit() != u':'; }

	// The native text as it is, valid or not.
	void GetPath(VString& out) const { out = fPath; }
	// FPS_POSIX: the POSIX form, empty for an invalid path; any other style: the native text.
	VString GetPath(FilePathStyle style) const;
	// The POSIX form ("Root:" is "/", another volume X is "/X/", a '/' in a name is ':'); empty for an
	// invalid path or one holding an unpaired surrogate, which no file name on disk can carry.
	void GetPosixPath(VString& out) const;
	// The text behind base when base is a valid folder path whose text begins this one (units compared
	// exactly: names are bytes on disk); true then. Otherwise out is the whole native text and the answer
	// false.
	bool GetRelativePath(const VFilePath& base, VString& out) const;
	// The same, a relative result in POSIX form; otherwise the full POSIX form (empty when invalid).
	bool GetRelativePosixPath(const VFilePath& base, VString& out) const;

	// The last component whatever the validity: a file's name, a folder's name without ':', a volume's
	// name; a text without ':' whole; ":" gives "".
	void GetName(VString& out) const;
	// A valid file's name, without its extension unless withExtension; empty for a folder or invalid path.
	void GetFileName(VString& out, bool withExtension = true) const;
	// A valid folder's last name without ':' (a volume root: the whole text, ':' included); empty for a
	// file or invalid path.
	void GetFolderName(VString& out, bool withExtension = true) const;
	// The text behind the last '.' of the last component; empty when there is none or nothing follows it.
	void GetExtension(VString& out) const;
	// Whether the name ends with "." + ext, compared through the current task's collator (case and
	// diacritics significant when sensitive). An empty ext matches a name without any '.'.
	bool MatchExtension(const VString& ext, bool sensitive = false) const;
	bool HasParent() const;
	// Components counted with the volume and, for a file, its name; 0 when invalid.
	int32 GetDepth() const;

	// Both valid, folder a folder path, and this text begins with folder's and is longer. Units are compared
	// exactly: names that differ only in case or normalization are other files on disk.
	bool IsChildOf(const VFilePath& folder) const;
	bool IsChildOfRawPath(const VFilePath& folder) const { return IsChildOf(folder); }
	// IsChildOf, or the same folder.
	bool IsSameOrChildOf(const VFilePath& folder) const;

	// out receives the parent folder (empty and invalid above a volume root); answers out's validity.
	bool GetParent(VFilePath& out) const;
	// out receives the path of a folder, the containing folder of a file; answers out's validity.
	bool GetFolder(VFilePath& out) const;

	// Editing in place. An invalid path is left alone.
	VFilePath& ToParent();
	// A file path loses its name; a text without ':' becomes empty and invalid.
	VFilePath& ToFolder();
	// On a valid folder path, name + ':' or name is appended; the name is not checked.
	VFilePath& ToSubFolder(const VString& name);
	VFilePath& ToSubFile(const VString& name);
	// A name holding ':' raises velk 614 and answers false, the path unchanged. A file's name or a folder's
	// last name is replaced; a volume root, or a file without a folder, becomes empty and invalid. Answers
	// the validity.
	bool SetName(const VString& name);
	// A name holding ':' raises velk 614, false. A folder gets the file of that name inside it; a file's name
	// is replaced, keeping its old extension unless withExtension.
	bool SetFileName(const VString& name, bool withExtension = true);
	// A valid folder's last name is replaced, keeping its old extension unless withExtension; a volume root
	// becomes empty and invalid. The name is not checked.
	bool SetFolderName(const VString& name, bool withExtension = true);
	// On a valid path: the extension of the file, or of the folder's last name, is replaced; an empty ext
	// removes it with its '.'.
	bool SetExtension(const VString& ext);
	bool SetFileExtension(const VString& ext);
	bool SetFolderExtension(const VString& ext);
	// White space (the current task's international manager's) at both ends and around every ':'.
	void RemoveBlanks();

	static bool ValidFullPath(const VString& path, FilePathStyle style);
	// False only for a POSIX text beginning with '/'.
	static bool ValidRelativePath(const VString& path, FilePathStyle style);
	// True when the text holds U+0000 before its end.
	static bool BadChar(const VString& path, FilePathStyle style = FPS_POSIX, bool unused = false);
	// Resolves "." and ".." steps and repeated '/' of a POSIX text in place. A ".." at the root of a full
	// path stays at the root; a leading ".." of a relative text, which names something outside it, is kept.
	static bool ResolveRelativePosix(VString& path);

	// The path-text conversions between the URL path styles; a relative text keeps its parent steps (a
	// native "::" is a POSIX "../"). Full native to POSIX and back as GetPosixPath and FromFullPath. False,
	// text unchanged, when a full text cannot be converted (unpaired surrogate).
	static bool _ConvertPathText(VString& text, EURLPathStyle from, EURLPathStyle to, bool relative);
	// Relative conversions alone, appended to out.
	static void _PosixToNativeRelative(const UniChar* units, int32 count, VString& out);
	static void _NativeToPosixRelative(const UniChar* units, int32 count, VString& out);

	CharSet DebugDump(char* buffer, int& length) const override;
	using VObject::DebugDump;

private:
	UniChar _LastUnit() const { return fPath.GetUniChar(fPath.GetLength()); }
	// Resolves the native parent steps of fPath; false when one would remove the volume.
	bool _ResolveParentSteps();
	void _SetValidity(bool valid) { fIsValid = valid && !fPath.IsEmpty(); }

	VString fPath;
	bool fIsValid = false;
};

}  // namespace velk
