// The file kinds of XMacFile: public kinds made from the system's type declarations, and conformance.
#include "files/mac/XMacFile.h"

#include <new>
#include <set>
#include <string>
#include <vector>

#include "files/VFileKind.h"
#include "files/VFileKindManager.h"
#include "platform/FileTypes.h"

namespace velk {

namespace {

std::vector<VString> Texts(const std::vector<std::string>& texts)
{
	std::vector<VString> result;
	result.reserve(texts.size());
	for (const std::string& text : texts)
		result.emplace_back(text.c_str());
	return result;
}

// Identifiers of types are compared without case, as the system does.
std::string Folded(const VString& id)
{
	std::string text = to_string(id);
	for (char& c : text)
	{
		if (c >= 'A' && c <= 'Z')
			c = char(c - 'A' + 'a');
	}
	return text;
}

}  // namespace

VFileKind* XMacFile::CreatePublicFileKind(const VString& id)
{
	try
	{
		plat::FileTypeDeclaration declaration;
		if (!plat::GetFileTypeDatabase().GetDeclaration(Folded(id), declaration))
			return nullptr;
		return VFileKind::Create(VString(declaration.identifier.c_str()), std::vector<VString>(),
			VString(declaration.description.c_str()), Texts(declaration.extensions), Texts(declaration.parents), true);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
}

VFileKind* XMacFile::CreatePublicFileKindFromOsKind(const VString&)
{
	return nullptr;
}

VFileKind* XMacFile::CreatePublicFileKindFromExtension(const VString& extension)
{
	std::string identifier;
	try
	{
		if (!plat::GetFileTypeDatabase().GetIdentifierForExtension(to_string(extension), identifier))
			return nullptr;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	return CreatePublicFileKind(VString(identifier.c_str()));
}

bool XMacFile::IsFileKindConformsTo(const VFileKind& a, const VFileKind& b)
{
	const plat::FileTypeDatabase& database = plat::GetFileTypeDatabase();
	try
	{
		const std::string target = Folded(b.GetID());
		std::set<std::string> seen;
		std::vector<VString> pending{a.GetID()};
		bool first = true;
		while (!pending.empty())
		{
			VString id = pending.back();
			pending.pop_back();
			std::string folded = Folded(id);
			if (!seen.insert(folded).second)
				continue;
			if (folded == target || database.ConformsTo(folded, target))
				return true;
			std::vector<VString> parents;
			if (first)
			{
				a.GetParentIDs(parents);
				first = false;
			}
			else if (VFileKindManager::sManager != nullptr)
			{
				// A parent the database knows was walked by ConformsTo; one it does not is a private kind.
				plat::FileTypeDeclaration declaration;
				if (!database.GetDeclaration(folded, declaration))
				{
					VFileKind* parent = VFileKindManager::sManager->RetainFileKind(id);
					if (parent != nullptr)
					{
						parent->GetParentIDs(parents);
						parent->Release();
					}
				}
			}
			pending.insert(pending.end(), parents.begin(), parents.end());
		}
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	return false;
}

}  // namespace velk
