#include "files/IFolder.h"

#include "files/VFilePath.h"

namespace velk {

void IFolder::GetNameWithoutExtension(VString& name) const
{
	GetPath().GetFolderName(name, false);
}

bool IFolder::IsSameFolder(const IFolder* other) const
{
	if (other == nullptr)
		return false;
	VString mine;
	VString theirs;
	GetPath().GetPath(mine);
	other->GetPath().GetPath(theirs);
	return mine.EqualToStringRaw(theirs);
}

}  // namespace velk
