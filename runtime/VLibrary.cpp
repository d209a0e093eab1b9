#include "runtime/VLibrary.h"

#include "files/IFile.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "kernel/strings/VString.h"

namespace velk {

VLibrary::VLibrary(const VFilePath& path) : fPath(path)
{
}

VLibrary::~VLibrary()
{
	Unload();
}

bool VLibrary::Load()
{
	StLocker locker(&fLock);
	if (!fLoaded && fPlatform.Load(fPath))
		fLoaded = true;
	return fLoaded;
}

void VLibrary::Unload()
{
	StLocker locker(&fLock);
	if (!fLoaded)
		return;
	fPlatform.Unload();
	fLoaded = false;
	if (fResourceFile != nullptr)
		fResourceFile->Release();
	fResourceFile = nullptr;
	fResourceFileLookedUp = false;
}

bool VLibrary::IsLoaded() const
{
	StLocker locker(&fLock);
	return fLoaded;
}

void* VLibrary::GetProcAddress(const VString& name)
{
	StLocker locker(&fLock);
	return fLoaded ? fPlatform.GetProcAddress(name) : nullptr;
}

bool VLibrary::IsSameFile(const VFilePath& path) const
{
	StLocker locker(&fLock);
	VString mine;
	VString other;
	fPath.GetPath(mine);
	path.GetPath(other);
	// Names that differ by case are other files on this system's file systems.
	return mine.EqualToStringRaw(other);
}

VFolder* VLibrary::RetainFolder(BundleFolderKind kind)
{
	StLocker locker(&fLock);
	return fLoaded ? fPlatform.RetainFolder(fPath, kind) : nullptr;
}

VFile* VLibrary::RetainExecutableFile()
{
	StLocker locker(&fLock);
	return fLoaded ? fPlatform.RetainExecutableFile(fPath) : nullptr;
}

IFile* VLibrary::RetainResourceFile()
{
	StLocker locker(&fLock);
	// Bundles carry no resource files here: the lookup finds nothing, once.
	fResourceFileLookedUp = true;
	if (fResourceFile != nullptr)
		fResourceFile->Retain();
	return fResourceFile;
}

const plat::Bundle* VLibrary::MAC_GetBundleRef() const
{
	StLocker locker(&fLock);
	return fPlatform.GetBundleRef();
}

}  // namespace velk
