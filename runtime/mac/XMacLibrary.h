// The platform half of VLibrary: a plain library file opened with the dynamic loader, or a bundle folder
// (an application, a plug-in or a framework) whose executable is opened the same way. Before a framework is
// loaded, its internal links that have become "XSym" text files are turned back into symbolic links.
// Failures are pushed as file errors on the calling task (velk 1010 with the loader's "reason").
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace plat {
class Bundle;
}

namespace velk {

class VFile;
class VFilePath;
class VFolder;
class VString;

// What RetainFolder gives: the bundle folder, its executable's folder, and its standard folders.
enum BundleFolderKind : int32
{
	kBUNDLE_FOLDER = 1,
	kBUNDLE_EXECUTABLE_FOLDER = 2,
	kBUNDLE_RESOURCES_FOLDER = 3,
	kBUNDLE_LOCALIZED_RESOURCES_FOLDER = 4,  // none here
	kBUNDLE_PLUGINS_FOLDER = 5,
	kBUNDLE_FRAMEWORKS_FOLDER = 6,
	kBUNDLE_SUPPORT_FOLDER = 7
};

class VELK_API XMacLibrary
{
public:
	XMacLibrary() = default;
	// Unloads what is still loaded.
	~XMacLibrary();
	XMacLibrary(const XMacLibrary&) = delete;
	XMacLibrary& operator=(const XMacLibrary&) = delete;

	// A file: r-x for everybody is added to its mode when any of it is missing, then it is opened with the
	// loader in the global symbol mode. A folder: the bundle on it (framework links repaired first), its
	// executable opened likewise. Nothing at the path: nothing is done. Answers whether a library or bundle
	// is held; on failure a file error velk 1010 on the path with "reason" is pushed and nothing is held.
	bool Load(const VFilePath& path);
	// For a framework, opens its executable (owner r-x added when missing) so that its symbols serve the
	// libraries loaded later. True when done or nothing to do; false, velk 1010 pushed, on failure.
	bool _dlopen_RTLD_GLOBAL(const VFilePath& path);
	// The bundle's executable; null without a bundle or executable.
	VFile* RetainExecutableFile(const VFilePath& path) const;
	// The folder of that kind; null without a bundle, and for kind 4 and unknown kinds.
	VFolder* RetainFolder(const VFilePath& path, BundleFolderKind kind) const;
	// The symbol's address in the bundle's executable, else in the library; null when absent or unloaded.
	void* GetProcAddress(const VString& name) const;
	// Closes what the loader opened and drops the bundle.
	void Unload();

	const plat::Bundle* GetBundleRef() const { return fBundle; }

private:
	// Load, RetainFolder and _dlopen_RTLD_GLOBAL, which turn a shortage of memory into velk 100.
	bool _Load(const VFilePath& path);
	VFolder* _RetainFolder(const VFilePath& path, BundleFolderKind kind) const;
	bool _OpenFrameworkExecutable(const VFilePath& path);
	// The links "Versions/Current", "Resources" and <name> of the framework folder that were turned into "XSym" files become links again; the first failure stops the repair.
	void _RepairFrameworkLinks(const VFilePath& framework);
	// dlopen(RTLD_NOW | RTLD_GLOBAL) of the file; null with velk 1010 pushed on errorPath on failure.
	static void* _Open(const VString& posixPath, const VFilePath& errorPath);

	plat::Bundle* fBundle = nullptr;  // owned
	void* fHandle = nullptr;  // a plain library, or a framework's executable opened for its symbols
	void* fBundleHandle = nullptr;  // the bundle's executable
};

}  // namespace velk
