#include "files/IFileSystemObject.h"

#include "files/VFilePath.h"

namespace velk {

void IFileSystemObject::GetName(VString& name) const
{
	GetPath().GetName(name);
}

void IFileSystemObject::GetExtension(VString& extension) const
{
	GetPath().GetExtension(extension);
}

bool IFileSystemObject::MatchExtension(const VString& extension) const
{
	return GetPath().MatchExtension(extension, false);
}

}  // namespace velk
