#include "files/mac/XMacFolder.h"

#include <sys/stat.h>

#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "files/mac/XMacFilePath.h"

namespace velk {

XMacFolder::XMacFolder(const char* posixPath) : fPosixPath(posixPath != nullptr ? posixPath : "")
{
}

XMacFolder::XMacFolder(const VFilePath& path)
{
	VString posixPath;
	path.GetPosixPath(posixPath);
	fPosixPath = to_string(posixPath);
}

bool XMacFolder::_SystemPath(std::string& path) const
{
	if (fOwner == nullptr)
	{
		path = fPosixPath;
	}
	else
	{
		if (!XMacFilePath::ToSystemPath(fOwner->_GetPosixPath(), path))
			return false;
	}
	// "x/" would follow a final link where the caller asked for the entry itself.
	while (path.size() > 1 && path.back() == '/')
		path.pop_back();
	return true;
}

VFilePath XMacFolder::_GetFilePath() const
{
	if (fOwner != nullptr)
		return fOwner->GetPath();
	VString text(fPosixPath.c_str());
	if (text.IsEmpty() || text.GetUniChar(text.GetLength()) != u'/')
		text.AppendUniChar(u'/');
	return VFilePath(text, FPS_POSIX);
}

void XMacFolder::GetPosixPath(VString& path) const
{
	if (fOwner != nullptr)
		path = fOwner->_GetPosixPath();
	else
		path = VString(fPosixPath.c_str());
}

bool XMacFolder::Exists(bool follow) const
{
	std::string path;
	struct stat status;
	if (!_SystemPath(path))
		return false;
	const int error = follow ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status);
	return error == 0 && S_ISDIR(status.st_mode);
}

VError XMacFolder::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return XMacFile::GetTimeAttributes(path.c_str(), true, modified, created, accessed);
}

VError XMacFolder::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return XMacFile::SetTimeAttributes(path.c_str(), modified, created, accessed);
}

}  // namespace velk
