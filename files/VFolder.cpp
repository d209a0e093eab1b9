#include "files/VFolder.h"

#include <new>

#include "files/VFile.h"
#include "files/VFileError.h"

namespace velk {

namespace {

constexpr VError kInfoFailed = MakeVError(kVELK_SIGNATURE, 608);

// An absolute path cannot be taken relative to a folder.
bool IsRelative(const VString& path)
{
	return path.IsEmpty() || path.GetUniChar(1) != u'/';
}

template <class T>
T* Made(T* object)
{
	if (object == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return object;
}

}  // namespace

VFolder::VFolder(const VString& path, FilePathStyle) : fPlatform(*this), fPath(path)
{
	if (fPath.IsEmpty() || fPath.GetUniChar(fPath.GetLength()) != u'/')
		fPath.AppendUniChar(u'/');
}

VFolder::VFolder(const VFolder& other) : VObject(), IFolder(), fPlatform(*this), fPath(other.fPath)
{
}

VFolder::~VFolder() = default;

VFilePath VFolder::GetPath() const
{
	return VFilePath(fPath, FPS_POSIX);
}

void VFolder::GetPlatformPath(VString& path, FilePathStyle style) const
{
	if (style == FPS_POSIX || style == FPS_SYSTEM)
		path = fPath;
	else
		path.Clear();
}

VString VFolder::GetPathWithFileSystem() const
{
	return fPath;
}

IFolder* VFolder::RetainParentFolder(bool) const
{
	// Behind the last '/' but the one that ends the path.
	const UniChar* units = fPath.GetCPointer();
	int32 end = fPath.GetLength() - 1;
	while (end > 0 && units[end - 1] != u'/')
		--end;
	if (end <= 0)
		return nullptr;
	const VString parent(units, end);
	if (parent.GetLength() != end)
		return nullptr;
	return Made(new (std::nothrow) VFolder(parent, FPS_POSIX));
}

bool VFolder::Exists() const
{
	return fPlatform.Exists();
}

VError VFolder::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
	return VFileError::Throw(fPath, fPlatform.GetTimeAttributes(modified, created, accessed), kInfoFailed);
}

IFolder* VFolder::RetainRelativeFolder(const VString& path, FilePathStyle style) const
{
	if (!IsRelative(path))
	{
		_ThrowError(VE_INVALID_PARAMETER, &path);
		return nullptr;
	}
	VString full(fPath);
	full.AppendUniChars(path.GetCPointer(), path.GetLength());
	if (full.GetLength() != fPath.GetLength() + path.GetLength())
		return nullptr;
	return Made(new (std::nothrow) VFolder(full, style));
}

IFile* VFolder::_RetainRelativeIFile(const VString& path, FilePathStyle style) const
{
	if (path.IsEmpty() || !IsRelative(path) || path.GetUniChar(path.GetLength()) == u'/')
	{
		_ThrowError(VE_INVALID_PARAMETER, &path);
		return nullptr;
	}
	VFile* file = Made(new (std::nothrow) VFile(*this, path, style));
	if (file != nullptr && file->_GetPosixPath().GetLength() != fPath.GetLength() + path.GetLength())
	{
		// The path could not be stored (velk 107 raised).
		file->Release();
		return nullptr;
	}
	return file;
}

}  // namespace velk
