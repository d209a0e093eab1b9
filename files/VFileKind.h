// A type of document: its identifier, description, file-name extensions, operating-system type codes and
// the identifiers of the kinds it conforms to. Public kinds come from the system's type declarations,
// private ones are registered by the application (VFileKindManager).
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class VELK_API VFileKind : public VObject, public IRefCountable
{
public:
	// Extensions are given without the '.'. The count starts at 1, owned by the creator.
	VFileKind(const VString& id, const std::vector<VString>& osKinds, const VString& description,
		const std::vector<VString>& extensions, const std::vector<VString>& parentIDs, bool isPublic);

	// A new kind with one reference; null (velk 100 raised) when memory is short.
	static VFileKind* Create(const VString& id, const std::vector<VString>& osKinds, const VString& description,
		const std::vector<VString>& extensions, const std::vector<VString>& parentIDs, bool isPublic);

	const VString& GetID() const { return fID; }
	const VString& GetDescription() const { return fDescription; }
	bool IsPublic() const { return fIsPublic; }

	// Whether an extension equals the text, without case or diacritic sensitivity.
	bool MatchExtension(const VString& extension) const;
	// Whether a type code equals the text exactly.
	bool MatchOsKind(const VString& osKind) const;
	// The first extension or type code; cleared and false when there is none.
	bool GetPreferredExtension(VString& extension) const;
	bool GetPreferredOsKind(VString& osKind) const;
	// Replaces ids with the parent identifiers; false when there are none.
	bool GetParentIDs(std::vector<VString>& ids) const;

	// Asked of the system's layer (XMacFile::IsFileKindConformsTo).
	bool ConformsTo(const VFileKind& other) const;
	// The kind of id is taken from the manager, which asks the system for a kind it does not hold; false
	// when neither knows the identifier or there is no manager.
	bool ConformsTo(const VString& id) const;

private:
	VString fDescription;
	VString fID;
	std::vector<VString> fOsKinds;
	std::vector<VString> fExtensions;
	std::vector<VString> fParentIDs;
	bool fIsPublic;
};

}  // namespace velk
