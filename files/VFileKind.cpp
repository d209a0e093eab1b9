#include "files/VFileKind.h"

#include <new>

#include "files/VFileKindManager.h"
#include "files/mac/XMacFile.h"
#include "runtime/VError.h"

namespace velk {

VFileKind::VFileKind(const VString& id, const std::vector<VString>& osKinds, const VString& description,
	const std::vector<VString>& extensions, const std::vector<VString>& parentIDs, bool isPublic)
	: fDescription(description), fID(id), fOsKinds(osKinds), fExtensions(extensions), fParentIDs(parentIDs),
	  fIsPublic(isPublic)
{
}

VFileKind* VFileKind::Create(const VString& id, const std::vector<VString>& osKinds, const VString& description,
	const std::vector<VString>& extensions, const std::vector<VString>& parentIDs, bool isPublic)
{
	VFileKind* kind = nullptr;
	try
	{
		// The vectors are copied in the constructor, which may run short of memory itself.
		kind = new VFileKind(id, osKinds, description, extensions, parentIDs, isPublic);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	return kind;
}

bool VFileKind::MatchExtension(const VString& extension) const
{
	for (const VString& candidate : fExtensions)
	{
		if (candidate.EqualToString(extension, false))
			return true;
	}
	return false;
}

bool VFileKind::MatchOsKind(const VString& osKind) const
{
	for (const VString& candidate : fOsKinds)
	{
		if (candidate.EqualToStringRaw(osKind))
			return true;
	}
	return false;
}

bool VFileKind::GetPreferredExtension(VString& extension) const
{
	if (fExtensions.empty())
	{
		extension.Clear();
		return false;
	}
	extension = fExtensions.front();
	return true;
}

bool VFileKind::GetPreferredOsKind(VString& osKind) const
{
	if (fOsKinds.empty())
	{
		osKind.Clear();
		return false;
	}
	osKind = fOsKinds.front();
	return true;
}

bool VFileKind::GetParentIDs(std::vector<VString>& ids) const
{
	try
	{
		ids = fParentIDs;
	}
	catch (const std::bad_alloc&)
	{
		ids.clear();
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	return !ids.empty();
}

bool VFileKind::ConformsTo(const VFileKind& other) const
{
	return XMacFile::IsFileKindConformsTo(*this, other);
}

bool VFileKind::ConformsTo(const VString& id) const
{
	if (VFileKindManager::sManager == nullptr)
		return false;
	VFileKind* other = VFileKindManager::sManager->RetainFileKind(id);
	if (other == nullptr)
		return false;
	bool conforms = ConformsTo(*other);
	other->Release();
	return conforms;
}

}  // namespace velk
