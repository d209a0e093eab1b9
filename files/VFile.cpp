#include "files/VFile.h"

#include <new>

#include "files/VFileError.h"
#include "files/VFolder.h"
#include "kernel/memory/VMemoryBuffer.h"

namespace velk {

namespace {

constexpr VError kOpenFailed = MakeVError(kVELK_SIGNATURE, 602);
constexpr VError kInfoFailed = MakeVError(kVELK_SIGNATURE, 608);

}  // namespace

VFile::VFile(const VString& path, FilePathStyle) : fPlatform(*this), fPath(path)
{
}

VFile::VFile(const VFolder& folder, const VString& relativePath, FilePathStyle)
: fPlatform(*this), fPath(folder._GetPosixPath())
{
	fPath.AppendUniChars(relativePath.GetCPointer(), relativePath.GetLength());
}

VFile::VFile(const VFile& other) : VObject(), IFile(), fPlatform(*this), fPath(other.fPath)
{
}

VFile::~VFile() = default;

VFilePath VFile::GetPath() const
{
	return VFilePath(fPath, FPS_POSIX);
}

void VFile::GetPlatformPath(VString& path, FilePathStyle style) const
{
	if (style == FPS_POSIX || style == FPS_SYSTEM)
		path = fPath;
	else
		path.Clear();
}

VString VFile::GetPathWithFileSystem() const
{
	return fPath;
}

IFolder* VFile::RetainParentFolder(bool) const
{
	const UniChar* units = fPath.GetCPointer();
	int32 end = fPath.GetLength();
	while (end > 0 && units[end - 1] != u'/')
		--end;
	if (end == 0)
		return nullptr;
	const VString parent(units, end);
	if (parent.GetLength() != end)
		return nullptr;
	VFolder* folder = new (std::nothrow) VFolder(parent, FPS_POSIX);
	if (folder == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return folder;
}

bool VFile::Exists() const
{
	return fPlatform.Exists();
}

VError VFile::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
	return VFileError::Throw(fPath, fPlatform.GetTimeAttributes(modified, created, accessed), kInfoFailed);
}

VError VFile::GetContent(VMemoryBuffer<>& content) const
{
	return VFileError::Throw(fPath, fPlatform.GetContent(content), kOpenFailed);
}

VError VFile::SetContent(const void* bytes, size_t size) const
{
	return VFileError::Throw(fPath, fPlatform.SetContent(bytes, size), kOpenFailed);
}

}  // namespace velk
