// A registry of named file systems, chained to an optional parent, through which paths made of '/', a file
// system's name, '/' and a POSIX path relative to its root resolve to files and folders.
#pragma once

#include "kernel/VExport.h"

#include <map>
#include <unordered_map>

#include "files/IFileSystemObject.h"
#include "files/VFileSystem.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VError.h"

namespace velk {

class IFile;
class IFolder;
class VFile;
class VJSONValue;

// A definition file that cannot be read or parsed: "path".
constexpr VError VE_FS_INVALID_DEFINITION_FILE = MakeVError(kVELK_SIGNATURE, 687);

// Look-up option bits.
enum FileSystemLookupOptions : uint32
{
	eFSN_SKIP_HIDDEN = 1,
	eFSN_SEARCH_PARENTS = 2
};

// File-system names are compared unit for unit: names that differ in case are other file systems.
struct VFileSystemNameOrder
{
	bool operator()(const VString& a, const VString& b) const { return a.CompareToStringRaw(b) == CR_SMALLER; }
};
struct VFileSystemNameEqual
{
	bool operator()(const VString& a, const VString& b) const { return a.EqualToStringRaw(b); }
};
struct VELK_API VFileSystemNameHash
{
	size_t operator()(const VString& name) const;
};

class VELK_API VFileSystemNamespace : public VObject, public IRefCountable
{
public:
	using MapOfFileSystems = std::map<VString, VRefPtr<VFileSystem>, VFileSystemNameOrder>;

	explicit VFileSystemNamespace(VFileSystemNamespace* parent = nullptr);
	VFileSystemNamespace(const VFileSystemNamespace&) = delete;
	VFileSystemNamespace& operator=(const VFileSystemNamespace&) = delete;
	~VFileSystemNamespace() override;

	// Stores the file system under its name, replacing one already there. Null is ignored.
	void RegisterFileSystem(VFileSystem* fileSystem);
	// Creates (no quota) and registers; answers the creation error, 0 on success.
	VError RegisterFileSystem(const VString& name, IFolder* root, uint32 options);
	void UnregisterFileSystem(const VString& name);

	// Retained, or null. eFSN_SEARCH_PARENTS: the parents are asked in turn while none is found, each under
	// its own lock; eFSN_SKIP_HIDDEN: the first found gives null when it is hidden.
	VFileSystem* RetainFileSystem(const VString& name, uint32 options) const;
	IFolder* RetainFileSystemRootFolder(const VString& name, uint32 options) const;
	// Parents' entries first (eFSN_SEARCH_PARENTS), this namespace's replacing them. Answers 0.
	VError RetainMapOfFileSystems(MapOfFileSystems& out, uint32 options) const;

	// "/name/relative": true with the file system and the normalized relative POSIX path when name is
	// registered and relative stays inside its root.
	bool ParsePathWithFileSystem(const VString& path, VRefPtr<VFileSystem>& outFileSystem, VString& outRelative,
		uint32 options) const;

	// A path of a file system, a path relative to base (POSIX style), or, with allowPosixPath and no base, a
	// full POSIX path. A '/'-path whose first name is a registered file system (hidden ones too) never
	// becomes a plain POSIX path: when it leaves the root or names nothing there the answer is null.
	// Retained, or null.
	IFile* RetainFile(const VString& path, IFolder* base, uint32 options, bool allowPosixPath) const;
	IFolder* RetainFolder(const VString& path, IFolder* base, uint32 options, bool allowPosixPath) const;
	// The same through a namespace that may be null (relative to base, or plain POSIX paths, then).
	static IFile* RetainFile(const VFileSystemNamespace* ns, const VString& path, IFolder* base, uint32 options,
		bool allowPosixPath);
	static IFolder* RetainFolder(const VFileSystemNamespace* ns, const VString& path, IFolder* base,
		uint32 options, bool allowPosixPath);

	// Reads a JSON array of {"name", "path", "parent", "writable"} and registers each entry whose folder
	// resolves, "writable" making it writable; "path" is relative to the root of the file system "parent"
	// names (parents searched), else a full POSIX path. A null file raises velk 1; a file that does not
	// parse pushes velk 687 with "path", registers nothing and answers the parse error. An entry with a bad
	// name pushes velk 686; the first such code is answered, the other entries registered.
	VError LoadFromDefinitionFile(VFile* file);

private:
	VError _LoadFromJSONArray(const VJSONValue& array);

	mutable VCriticalSection fLock;
	std::unordered_map<VString, VRefPtr<VFileSystem>, VFileSystemNameHash, VFileSystemNameEqual> fFileSystems;
	VFileSystemNamespace* fParent = nullptr;
};

}  // namespace velk
