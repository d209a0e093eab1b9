// One uniform type identifier declared by an application: its identifier, description and tags (file-name
// extensions, MIME types, four-character type codes), and the types it conforms to (parents) and those that
// conform to it (children). Every walk over parents or children visits each type once, so links that loop
// back end the walk instead of running it forever.
#pragma once

#include "kernel/VExport.h"

#include <map>
#include <set>
#include <vector>

#include "files/VFilePath.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class VUTI;

// Identifiers ordered unit by unit: each identifier is its own entry.
struct VUTIIdentifierLess
{
	bool operator()(const VString& a, const VString& b) const { return a.CompareToStringRaw(b) == CR_SMALLER; }
};

// Types by identifier, one reference held per entry.
using VUTIMap = std::map<VString, VUTI*, VUTIIdentifierLess>;

class VELK_API VUTI : public VObject, public IRefCountable
{
public:
	VUTI() = default;
	explicit VUTI(const VString& identifier);
	VUTI(const VUTI&) = delete;
	VUTI& operator=(const VUTI&) = delete;
	~VUTI() override;

	// Drops the links to parents and children (_Detach). Links between types are references both ways, so
	// whoever holds a graph of types calls this before letting them go.
	void ReleaseDependencies() override { _Detach(); }

	const VString& GetIdentifier() const { return fIdentifier; }
	void SetIdentifier(const VString& identifier) { fIdentifier = identifier; }
	const VString& GetDescription() const { return fDescription; }
	void SetDescription(const VString& description) { fDescription = description; }
	const VString& GetReference() const { return fReference; }
	void SetReference(const VString& reference) { fReference = reference; }
	const VFilePath& GetImagePath() const { return fImagePath; }
	void SetImagePath(const VFilePath& path) { fImagePath = path; }

	// Tags are kept once each: extensions and MIME types compared without case, type codes exactly.
	const std::vector<VString>& GetExtensionsVector() const { return fExtensions; }
	void SetExtensionsVector(const std::vector<VString>& extensions);
	void AddExtension(const VString& extension);
	const std::vector<VString>& GetOSTypesVector() const { return fOSTypes; }
	void SetOSTypesVector(const std::vector<VString>& osTypes);
	void AddOSType(const VString& osType);
	const std::vector<VString>& GetMIMETypesVector() const { return fMIMETypes; }
	void SetMIMETypesVector(const std::vector<VString>& mimeTypes);
	void AddMIMEType(const VString& mimeType);

	// The maps hold one reference per entry. Adding a type whose identifier is already linked keeps the
	// first; a null type or one without identifier is not added. The setters retain the new entries and
	// release the old ones.
	const VUTIMap& GetParentUTIsMap() const { return fParents; }
	void SetParentUTIsMap(const VUTIMap& parents);
	void AddParentUTI(VUTI* parent);
	const VUTIMap& GetChildrenUTIsMap() const { return fChildren; }
	void SetChildrenUTIsMap(const VUTIMap& children);
	void AddChildUTI(VUTI* child);

	// A temporary type stands for a parent named before it is declared; walks skip it.
	bool IsTemporary() const { return fTemporary; }
	void SetTemporary(bool temporary) { fTemporary = temporary; }
	bool IsDynamic() const { return fDynamic; }
	void SetDynamic(bool dynamic) { fDynamic = dynamic; }
	// The identifier begins with "public" (without case or diacritics).
	bool IsPublic() const;

	// This type or a non-temporary parent, at any depth, has the identifier (exactly); false for an empty id.
	bool ConformsToIdentifier(const VString& identifier) const;
	bool ConformsToExtension(const VString& extension) const;
	bool ConformsToOSType(const VString& osType) const;
	bool ConformsToMIMEType(const VString& mimeType) const;

	// This type when it carries the tag itself, otherwise the first non-temporary parent, in identifier
	// order, that answers one; null when none does. Not retained.
	VUTI* GetHighestParentThatConformsToExtension(const VString& extension) const;
	VUTI* GetHighestParentThatConformsToOSType(const VString& osType) const;
	VUTI* GetHighestParentThatConformsToMIMEType(const VString& mimeType) const;

	// Appends this type's extensions, then those of its non-temporary parents at any depth, each once.
	void GetAllExtensionsVector(std::vector<VString>& extensions) const;

	// Whether other (by identifier, without case) is a non-temporary parent at any depth. CouldBeAParent
	// also takes the temporary parents of the first level.
	bool IsParent(const VUTI* other) const;
	bool CouldBeAParent(const VUTI* other) const;
	// The same two walks over the children.
	bool IsChild(const VUTI* other) const;
	bool CouldBeAChild(const VUTI* other) const;
	// IsChild(other), here or in any non-temporary parent at any depth.
	bool IsChildOrChildOfAParent(const VUTI* other) const;

	// Removes the parent and the child of that identifier, each only when it is a temporary type.
	void RemoveTemporaryUTI(const VString& identifier);

private:
	using Visited = std::set<const VUTI*>;
	enum ETagClass
	{
		eExtension,
		eOSType,
		eMIMEType
	};

	bool _HasTag(ETagClass tagClass, const VString& tag) const;
	VUTI* _GetHighestParentWithTag(ETagClass tagClass, const VString& tag, Visited& visited) const;
	bool _ConformsToIdentifier(const VString& identifier, Visited& visited) const;
	void _GetAllExtensions(std::vector<VString>& extensions, Visited& visited) const;
	static bool _IsLinked(const VUTIMap& links, const VUTI* other, bool withTemporary, Visited& visited, bool parents);
	bool _IsChildOrChildOfAParent(const VUTI* other, Visited& visited) const;
	static void _AddTag(std::vector<VString>& tags, const VString& tag, bool exact);
	static void _AddLink(VUTIMap& links, VUTI* other);
	static void _SetLinks(VUTIMap& links, const VUTIMap& others);
	static void _ReleaseLinks(VUTIMap& links);
	void _Detach();

	VString fIdentifier;
	VString fDescription;
	VString fReference;
	VFilePath fImagePath;
	std::vector<VString> fExtensions;
	std::vector<VString> fOSTypes;
	std::vector<VString> fMIMETypes;
	VUTIMap fParents;
	VUTIMap fChildren;
	bool fTemporary = false;
	bool fDynamic = false;
};

}  // namespace velk
