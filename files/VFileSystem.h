// A named folder tree that confines the files and folders carrying it: they refuse paths outside its root.
// It may keep a byte quota and a shared snapshot of file times (VFileAttributesCache).
#pragma once

#include "kernel/VExport.h"

#include <atomic>

#include "files/VFileAttributesCache.h"
#include "files/VFilePath.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class IFolder;
class VFolder;

// Request or Relinquish on a file system that is not writable.
constexpr VError VE_FS_NOT_WRITABLE = MakeVError(kVELK_SIGNATURE, 684);
// Request of more bytes than the quota has left.
constexpr VError VE_FS_QUOTA_EXCEEDED = MakeVError(kVELK_SIGNATURE, 685);
// Create with an empty name or one holding '/': "name".
constexpr VError VE_FS_INVALID_NAME = MakeVError(kVELK_SIGNATURE, 686);

// Option bits of a file system.
enum FileSystemOptions : uint32
{
	eFSO_WRITABLE = 1,
	eFSO_DELETE_ROOT = 4,  // the root and its contents go when the file system is destroyed
	eFSO_HIDDEN = 16,  // left out of look-ups that ask for visible file systems
	eFSO_ATTRIBUTES_CACHE = 32
};

class VELK_API VFileSystem : public VObject, public IRefCountable
{
public:
	// A new file system with one reference. An empty name, or one holding '/', pushes velk 686 with "name"
	// and gives null; *outError (when given) receives the code, 0 on success.
	static VFileSystem* Create(const VString& name, IFolder* root, uint32 options, uint64 quota, uint64 used,
		VError* outError = nullptr);

	// root is retained; more bytes used than the quota leave none available. With eFSO_ATTRIBUTES_CACHE the
	// cache of root's own file system is shared when it has one, else a new empty one is made.
	VFileSystem(const VString& name, IFolder* root, uint32 options, uint64 quota, uint64 used);
	VFileSystem(const VFileSystem&) = delete;
	VFileSystem& operator=(const VFileSystem&) = delete;
	// With eFSO_DELETE_ROOT an existing root goes with its contents; errors of that are logged, not kept.
	~VFileSystem() override;

	const VString& GetName() const { return fName; }
	uint32 GetOptions() const { return fOptions; }
	bool IsWritable() const { return (fOptions & eFSO_WRITABLE) != 0; }
	bool IsHidden() const { return (fOptions & eFSO_HIDDEN) != 0; }
	// The root's path; empty and invalid for a null root.
	VFilePath GetRoot() const;
	// A new folder object for the root that carries this file system; null for a null root.
	VFolder* RetainRootFolder() const;
	// The path is the root or inside it.
	bool IsAuthorized(const VFilePath& path) const;
	// "/" + name + "/" + the POSIX path relative to the root, for a path the root contains; false otherwise.
	bool GetPathWithFileSystem(const VFilePath& path, VString& out) const;
	// The snapshot of file times; null without eFSO_ATTRIBUTES_CACHE.
	VFileAttributesCache* GetAttributesCache() const { return fAttributesCache.Get(); }

	// Takes bytes from the quota (none is taken without one): velk 684 when not writable, velk 685 when fewer
	// are left, answered and not pushed. Safe between tasks: two requests never both take the last bytes.
	VError Request(uint64 bytes);
	// Gives bytes back, never beyond the quota: velk 684 when not writable, answered and not pushed.
	VError Relinquish(uint64 bytes);
	uint64 GetQuota() const { return fQuota; }
	uint64 GetAvailable() const { return fAvailable.load(); }

private:
	VString fName;
	IFolder* fRoot = nullptr;
	VRefPtr<VFileAttributesCache> fAttributesCache;
	uint64 fQuota = 0;
	uint32 fOptions = 0;
	std::atomic<uint64> fAvailable{0};
};

}  // namespace velk
