#include "files/VUTI.h"

#include <new>

#include "runtime/VError.h"

namespace velk {

namespace {

// A walk remembers the types it visited; when memory for that is short it answers the fallback.
template <class RESULT, class WALK>
RESULT Guarded(RESULT fallback, WALK walk)
{
	try
	{
		return walk();
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return fallback;
	}
}

}  // namespace

VUTI::VUTI(const VString& identifier) : fIdentifier(identifier)
{
}

VUTI::~VUTI()
{
	_Detach();
}

void VUTI::_Detach()
{
	// Moved out first: releasing a link may destroy a type that walks back here.
	VUTIMap parents;
	VUTIMap children;
	parents.swap(fParents);
	children.swap(fChildren);
	_ReleaseLinks(parents);
	_ReleaseLinks(children);
}

void VUTI::_ReleaseLinks(VUTIMap& links)
{
	for (auto& entry : links)
		entry.second->Release();
	links.clear();
}

void VUTI::_AddTag(std::vector<VString>& tags, const VString& tag, bool exact)
{
	for (const VString& existing : tags)
	{
		if (exact ? existing.EqualToStringRaw(tag) : existing.EqualToString(tag, false))
			return;
	}
	try
	{
		tags.push_back(tag);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
}

void VUTI::SetExtensionsVector(const std::vector<VString>& extensions)
{
	fExtensions.clear();
	for (const VString& extension : extensions)
		AddExtension(extension);
}

void VUTI::AddExtension(const VString& extension)
{
	_AddTag(fExtensions, extension, false);
}

void VUTI::SetOSTypesVector(const std::vector<VString>& osTypes)
{
	fOSTypes.clear();
	for (const VString& osType : osTypes)
		AddOSType(osType);
}

void VUTI::AddOSType(const VString& osType)
{
	_AddTag(fOSTypes, osType, true);
}

void VUTI::SetMIMETypesVector(const std::vector<VString>& mimeTypes)
{
	fMIMETypes.clear();
	for (const VString& mimeType : mimeTypes)
		AddMIMEType(mimeType);
}

void VUTI::AddMIMEType(const VString& mimeType)
{
	_AddTag(fMIMETypes, mimeType, false);
}

void VUTI::_AddLink(VUTIMap& links, VUTI* other)
{
	if (other == nullptr || other->GetIdentifier().IsEmpty())
		return;
	try
	{
		if (links.emplace(other->GetIdentifier(), other).second)
			other->Retain();
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
}

void VUTI::_SetLinks(VUTIMap& links, const VUTIMap& others)
{
	// Retained before the old entries go, so a map set to itself or sharing entries keeps them alive.
	VUTIMap old;
	old.swap(links);
	for (const auto& entry : others)
		_AddLink(links, entry.second);
	_ReleaseLinks(old);
}

void VUTI::SetParentUTIsMap(const VUTIMap& parents)
{
	_SetLinks(fParents, parents);
}

void VUTI::AddParentUTI(VUTI* parent)
{
	_AddLink(fParents, parent);
}

void VUTI::SetChildrenUTIsMap(const VUTIMap& children)
{
	_SetLinks(fChildren, children);
}

void VUTI::AddChildUTI(VUTI* child)
{
	_AddLink(fChildren, child);
}

bool VUTI::IsPublic() const
{
	static const VString sPublic("public");
	if (fIdentifier.GetLength() < sPublic.GetLength())
		return false;
	return VString(fIdentifier.GetCPointer(), sPublic.GetLength()).EqualToString(sPublic, false);
}

bool VUTI::_HasTag(ETagClass tagClass, const VString& tag) const
{
	const std::vector<VString>& tags = tagClass == eExtension ? fExtensions : tagClass == eOSType ? fOSTypes : fMIMETypes;
	for (const VString& existing : tags)
	{
		if (tagClass == eOSType ? existing.EqualToStringRaw(tag) : existing.EqualToString(tag, false))
			return true;
	}
	return false;
}

VUTI* VUTI::_GetHighestParentWithTag(ETagClass tagClass, const VString& tag, Visited& visited) const
{
	if (!visited.insert(this).second)
		return nullptr;
	if (_HasTag(tagClass, tag))
		return const_cast<VUTI*>(this);
	for (const auto& entry : fParents)
	{
		if (entry.second->IsTemporary())
			continue;
		if (VUTI* found = entry.second->_GetHighestParentWithTag(tagClass, tag, visited))
			return found;
	}
	return nullptr;
}

VUTI* VUTI::GetHighestParentThatConformsToExtension(const VString& extension) const
{
	return Guarded<VUTI*>(nullptr, [&]
	{
		Visited visited;
		return _GetHighestParentWithTag(eExtension, extension, visited);
	});
}

VUTI* VUTI::GetHighestParentThatConformsToOSType(const VString& osType) const
{
	return Guarded<VUTI*>(nullptr, [&]
	{
		Visited visited;
		return _GetHighestParentWithTag(eOSType, osType, visited);
	});
}

VUTI* VUTI::GetHighestParentThatConformsToMIMEType(const VString& mimeType) const
{
	return Guarded<VUTI*>(nullptr, [&]
	{
		Visited visited;
		return _GetHighestParentWithTag(eMIMEType, mimeType, visited);
	});
}

bool VUTI::ConformsToExtension(const VString& extension) const
{
	return GetHighestParentThatConformsToExtension(extension) != nullptr;
}

bool VUTI::ConformsToOSType(const VString& osType) const
{
	return GetHighestParentThatConformsToOSType(osType) != nullptr;
}

bool VUTI::ConformsToMIMEType(const VString& mimeType) const
{
	return GetHighestParentThatConformsToMIMEType(mimeType) != nullptr;
}

bool VUTI::_ConformsToIdentifier(const VString& identifier, Visited& visited) const
{
	if (!visited.insert(this).second)
		return false;
	if (fIdentifier.EqualToStringRaw(identifier))
		return true;
	for (const auto& entry : fParents)
	{
		if (!entry.second->IsTemporary() && entry.second->_ConformsToIdentifier(identifier, visited))
			return true;
	}
	return false;
}

bool VUTI::ConformsToIdentifier(const VString& identifier) const
{
	if (identifier.IsEmpty())
		return false;
	return Guarded(false, [&]
	{
		Visited visited;
		return _ConformsToIdentifier(identifier, visited);
	});
}

void VUTI::_GetAllExtensions(std::vector<VString>& extensions, Visited& visited) const
{
	if (!visited.insert(this).second)
		return;
	for (const VString& extension : fExtensions)
		_AddTag(extensions, extension, false);
	for (const auto& entry : fParents)
	{
		if (!entry.second->IsTemporary())
			entry.second->_GetAllExtensions(extensions, visited);
	}
}

void VUTI::GetAllExtensionsVector(std::vector<VString>& extensions) const
{
	Guarded(0, [&]
	{
		Visited visited;
		_GetAllExtensions(extensions, visited);
		return 0;
	});
}

bool VUTI::_IsLinked(const VUTIMap& links, const VUTI* other, bool withTemporary, Visited& visited, bool parents)
{
	for (const auto& entry : links)
	{
		const VUTI* link = entry.second;
		if (link->IsTemporary() && !withTemporary)
			continue;
		if (link->GetIdentifier().EqualToString(other->GetIdentifier(), false))
			return true;
		if (visited.insert(link).second
			&& _IsLinked(parents ? link->fParents : link->fChildren, other, false, visited, parents))
			return true;
	}
	return false;
}

bool VUTI::IsParent(const VUTI* other) const
{
	return other != nullptr && Guarded(false, [&]
	{
		Visited visited{this};
		return _IsLinked(fParents, other, false, visited, true);
	});
}

bool VUTI::CouldBeAParent(const VUTI* other) const
{
	return other != nullptr && Guarded(false, [&]
	{
		Visited visited{this};
		return _IsLinked(fParents, other, true, visited, true);
	});
}

bool VUTI::IsChild(const VUTI* other) const
{
	return other != nullptr && Guarded(false, [&]
	{
		Visited visited{this};
		return _IsLinked(fChildren, other, false, visited, false);
	});
}

bool VUTI::CouldBeAChild(const VUTI* other) const
{
	return other != nullptr && Guarded(false, [&]
	{
		Visited visited{this};
		return _IsLinked(fChildren, other, true, visited, false);
	});
}

bool VUTI::_IsChildOrChildOfAParent(const VUTI* other, Visited& visited) const
{
	if (!visited.insert(this).second)
		return false;
	if (IsChild(other))
		return true;
	for (const auto& entry : fParents)
	{
		if (!entry.second->IsTemporary() && entry.second->_IsChildOrChildOfAParent(other, visited))
			return true;
	}
	return false;
}

bool VUTI::IsChildOrChildOfAParent(const VUTI* other) const
{
	return other != nullptr && Guarded(false, [&]
	{
		Visited visited;
		return _IsChildOrChildOfAParent(other, visited);
	});
}

void VUTI::RemoveTemporaryUTI(const VString& identifier)
{
	for (VUTIMap* links : {&fParents, &fChildren})
	{
		auto found = links->find(identifier);
		if (found != links->end() && found->second->IsTemporary())
		{
			VUTI* removed = found->second;
			links->erase(found);
			removed->Release();
		}
	}
}

}  // namespace velk
