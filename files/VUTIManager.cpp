#include "files/VUTIManager.h"

#include <new>
#include <string>
#include <vector>

#include "containers/VArrayString.h"
#include "documents/xml/VXMLParser.h"
#include "files/VFile.h"
#include "files/VFileKindManager.h"
#include "files/VUTIXMLHandlers.h"
#include "files/mac/XMacPropertyList.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/ILocalizer.h"
#include "runtime/StThrowError.h"
#include "runtime/VError.h"

namespace velk {

const char* const kUTTagClassFilenameExtension = "public.filename-extension";
const char* const kUTTagClassMIMEType = "public.mime-type";
const char* const kUTTagClassOSType = "com.apple.ostype";

VUTIManager* VUTIManager::fSingleton = nullptr;

VUTIManager::VUTIManager()
: fParser(new (std::nothrow) VXMLParser), fHandler(new (std::nothrow) VUTIManagerXMLHandler(this))
{
}

VUTIManager::~VUTIManager()
{
	_ReleaseUTIs();
	if (fHandler != nullptr)
		fHandler->Release();
	delete fParser;
}

void VUTIManager::_ReleaseUTIs()
{
	VUTIMap utis;
	utis.swap(fUTIs);
	// Parents and children hold each other: their links go first, or none would ever be freed.
	for (auto& entry : utis)
		entry.second->ReleaseDependencies();
	for (auto& entry : utis)
		entry.second->Release();
}

VUTIManager* VUTIManager::GetUTIManager()
{
	if (fSingleton == nullptr)
	{
		VUTIManager* manager = new (std::nothrow) VUTIManager;
		if (manager != nullptr && (manager->fParser == nullptr || manager->fHandler == nullptr))
		{
			manager->Release();
			manager = nullptr;
		}
		if (manager == nullptr)
			_ThrowError(VE_MEMORY_FULL);
		fSingleton = manager;
	}
	return fSingleton;
}

void VUTIManager::Delete()
{
	VUTIManager* manager = fSingleton;
	fSingleton = nullptr;
	if (manager != nullptr)
		manager->Release();
}

void VUTIManager::DeInit()
{
	Delete();
}

bool VUTIManager::AnalyzeXMLFile(const VFile* file)
{
	if (file == nullptr)
		return false;
	fHandler->Reset();
	VFile* readable = const_cast<VFile*>(file);

	uint8 signature[8];
	size_t read = 0;
	if (file->GetData(signature, sizeof(signature), &read) != VE_OK)
		return false;
	if (!XMacPropertyList::IsBinary(signature, read))
		return fParser->Parse(readable, fHandler, eXML_ValidateNever);

	VMemoryBuffer<1024, 2, 1048576> content;
	if (file->GetContent(content) != VE_OK)
		return false;
	std::string xml;
	if (!XMacPropertyList::ConvertBinaryToXML(content.GetDataPtr(), size_t(content.GetDataSize()), xml))
	{
		// Reported as the XML layer reports a document it cannot read.
		StThrowError<> error(0, VE_XML_FATAL_ERROR);
		if (error.Get() != nullptr)
		{
			VString path;
			file->GetPath().GetPath(path);
			error->SetDescription(VString("The binary property list cannot be read"));
			error->SetString(VString("systemID"), path);
		}
		return false;
	}
	return fParser->Parse(xml.data(), xml.size(), fHandler, eXML_ValidateNever);
}

bool VUTIManager::LoadXMLFile(VFile* file)
{
	if (file == nullptr || !file->Exists())
		return false;
	const bool parsed = AnalyzeXMLFile(file);
	// What was read before a failure is kept and linked all the same.
	ProcessExtractedUTIs();
	return parsed;
}

bool VUTIManager::AddNewUTI(VUTI* uti)
{
	if (uti == nullptr || uti->GetIdentifier().IsEmpty())
		return false;
	try
	{
		if (!fUTIs.emplace(uti->GetIdentifier(), uti).second)
			return false;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	uti->Retain();
	return true;
}

VUTI* VUTIManager::GetUTI(const VString& identifier) const
{
	auto found = fUTIs.find(identifier);
	return found == fUTIs.end() ? nullptr : found->second;
}

void VUTIManager::ProcessExtractedUTIs()
{
	for (auto& parentEntry : fUTIs)
	{
		VUTI* parent = parentEntry.second;
		for (auto& childEntry : fUTIs)
		{
			VUTI* child = childEntry.second;
			if (child == parent)
				continue;
			auto placeholder = child->GetParentUTIsMap().find(parent->GetIdentifier());
			if (placeholder == child->GetParentUTIsMap().end() || !placeholder->second->IsTemporary())
				continue;
			// A link back to one of its own descendants would make the graph a loop: the placeholder stays.
			if (child->IsChildOrChildOfAParent(parent) || child->IsParent(parent))
				continue;
			child->RemoveTemporaryUTI(parent->GetIdentifier());
			parent->AddChildUTI(child);
			child->AddParentUTI(parent);
		}
	}
	_RegisterFileKinds();
}

void VUTIManager::_RegisterFileKinds() const
{
	VFileKindManager* kinds = VFileKindManager::sManager;
	if (kinds == nullptr)
		return;
	for (const auto& entry : fUTIs)
	{
		const VUTI* uti = entry.second;
		VString description;
		if (fLocalizer == nullptr || !fLocalizer->LocalizeStringWithKey(uti->GetDescription(), description))
			description = uti->GetDescription();
		try
		{
			std::vector<VString> parentIDs;
			for (const auto& parent : uti->GetParentUTIsMap())
				parentIDs.push_back(parent.first);
			kinds->RegisterPrivateFileKind(uti->GetIdentifier(), uti->GetOSTypesVector(), description,
				uti->GetExtensionsVector(), parentIDs);
		}
		catch (const std::bad_alloc&)
		{
			_ThrowError(VE_MEMORY_FULL);
		}
	}
}

bool VUTIManager::UTTypeEqual(const VString& a, const VString& b)
{
	return a.EqualToString(b, false);
}

namespace {

// The type, itself or through a parent, that carries the tag of that class; null for an unknown class.
VUTI* HighestWithTag(const VUTI* uti, const VString& tagClass, const VString& tag)
{
	switch (VUTIStringArrayXMLHandler::TargetOfTagClass(tagClass))
	{
		case eUTIExtensions:
			return uti->GetHighestParentThatConformsToExtension(tag);
		case eUTIMIMETypes:
			return uti->GetHighestParentThatConformsToMIMEType(tag);
		case eUTIOSTypes:
			return uti->GetHighestParentThatConformsToOSType(tag);
		default:
			return nullptr;
	}
}

}  // namespace

VArrayString* VUTIManager::UTTypeCreateAllIdentifiersForTag(const VString& tagClass, const VString& tag, const VString&) const
{
	if (tagClass.IsEmpty() || tag.IsEmpty()
		|| VUTIStringArrayXMLHandler::TargetOfTagClass(tagClass) == eUTIIgnored)
		return nullptr;
	VArrayString* identifiers = new (std::nothrow) VArrayString;
	if (identifiers == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	for (const auto& entry : fUTIs)
	{
		if (HighestWithTag(entry.second, tagClass, tag) != nullptr && identifiers->AppendString(entry.first) == 0)
		{
			delete identifiers;
			_ThrowError(VE_MEMORY_FULL);
			return nullptr;
		}
	}
	return identifiers;
}

VUTI* VUTIManager::UTTypeCreatePreferredIdentifierForTag(const VString& tagClass, const VString& tag, const VString& identifier) const
{
	if (tagClass.IsEmpty() || tag.IsEmpty() || fUTIs.empty())
		return nullptr;
	std::vector<VUTI*> candidates;
	bool anyPublic = false;
	try
	{
		for (const auto& entry : fUTIs)
		{
			VUTI* candidate = HighestWithTag(entry.second, tagClass, tag);
			if (candidate == nullptr || (!identifier.IsEmpty() && !candidate->ConformsToIdentifier(identifier)))
				continue;
			bool known = false;
			for (VUTI* other : candidates)
				known = known || other == candidate;
			if (!known)
			{
				candidates.push_back(candidate);
				anyPublic = anyPublic || candidate->IsPublic();
			}
		}
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	for (VUTI* candidate : candidates)
	{
		if (!anyPublic || candidate->IsPublic())
		{
			candidate->Retain();
			return candidate;
		}
	}
	return nullptr;
}

bool VUTIManager::UTTypeConformsTo(VFile* file, const VString& identifier) const
{
	if (file == nullptr || identifier.IsEmpty() || !file->Exists())
		return false;
	VRefPtr<VUTI> byExtension;
	VString extension;
	file->GetExtension(extension);
	if (!extension.IsEmpty())
		byExtension.Adopt(UTTypeCreatePreferredIdentifierForTag(VString(kUTTagClassFilenameExtension), extension, VString()));
	VRefPtr<VUTI> byOSType;
	uint32 kind = 0;
	if (file->MAC_GetKind(&kind) == VE_OK && kind != 0)
	{
		VString code;
		code.FromOsType(kind);
		byOSType.Adopt(UTTypeCreatePreferredIdentifierForTag(VString(kUTTagClassOSType), code, VString()));
	}
	const VUTI* chosen = byExtension.Get();
	if (chosen == nullptr || (byOSType && byOSType->IsParent(chosen)))
		chosen = byOSType.Get();
	return chosen != nullptr && chosen->ConformsToIdentifier(identifier);
}

}  // namespace velk
