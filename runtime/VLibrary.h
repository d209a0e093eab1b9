// A reference-counted handle on a dynamic library or a loadable bundle named by a file path: loads it,
// finds symbols in it, hands out its folders and its executable file, and unloads it (also when the last
// reference goes). Every operation takes the library's own critical section. Failures are pushed on the
// calling task's error context and reported by false or null.
#pragma once

#include "kernel/VExport.h"

#include "files/VFilePath.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VError.h"
#include "runtime/mac/XMacLibrary.h"

namespace velk {

class IFile;
class VFile;
class VFolder;
class VString;

// The library cannot be loaded: a file error on its path, with the loader's text as "reason".
constexpr VError VE_LIBRARY_CANNOT_LOAD = MakeVError(kVELK_SIGNATURE, 1010);
// A framework link stored as an "XSym" text file of fewer than 4 lines: it cannot be repaired.
constexpr VError VE_LIBRARY_INVALID_LINK_FILE = MakeVError(kVELK_SIGNATURE, 617);

class VELK_API VLibrary : public VObject, public IRefCountable
{
public:
	// Copies the path; nothing is loaded.
	explicit VLibrary(const VFilePath& path);
	~VLibrary() override;
	VLibrary(const VLibrary&) = delete;
	VLibrary& operator=(const VLibrary&) = delete;

	// Loads once: true when loaded (at once for a loaded library), false with the error pushed.
	bool Load();
	// Unloads when loaded and forgets the resource file.
	void Unload();
	bool IsLoaded() const;

	// The symbol's address; null when not loaded or absent.
	void* GetProcAddress(const VString& name);
	// The path texts are equal unit for unit, as VFile::IsSameFile compares.
	bool IsSameFile(const VFilePath& path) const;
	const VFilePath& GetPath() const { return fPath; }

	// Retained folder of that kind; null when not loaded or no bundle, and for kind 4.
	VFolder* RetainFolder(BundleFolderKind kind);
	// Retained file of the bundle's executable; null when not loaded or no bundle.
	VFile* RetainExecutableFile();
	// Looked up once while loaded; there are no resource files here, so always null.
	IFile* RetainResourceFile();

	const plat::Bundle* MAC_GetBundleRef() const;

private:
	mutable VCriticalSection fLock;
	const VFilePath fPath;
	XMacLibrary fPlatform;
	IFile* fResourceFile = nullptr;  // one reference held
	bool fResourceFileLookedUp = false;
	bool fLoaded = false;
};

}  // namespace velk
