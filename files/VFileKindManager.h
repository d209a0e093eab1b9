// The process-wide registry of file kinds: the application registers its private kinds; kinds of the
// system are made on demand by the system's layer and kept. Also holds the two labels file dialogs show
// for all files and for all readable documents. Any task may call it: the registry is guarded by a
// critical section, never held while the system is asked.
#pragma once

#include "kernel/VExport.h"

#include <map>
#include <vector>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class VFileKind;

class VELK_API VFileKindManager : public VObject, public IRefCountable
{
public:
	VFileKindManager();
	~VFileKindManager() override;
	VFileKindManager(const VFileKindManager&) = delete;
	VFileKindManager& operator=(const VFileKindManager&) = delete;

	// Makes the instance in sManager (kept when there is one already); false (velk 100 raised) when memory
	// is short. DeInit clears sManager and releases the instance.
	static bool Init();
	static void DeInit();

	// The kind registered under id, retained; otherwise the system's kind of id, registered under id and
	// returned with one reference for the caller; null when neither knows it.
	VFileKind* RetainFileKind(const VString& id);

	// Registers a private kind under id, replacing (and releasing) any kind registered under it. False,
	// the registry unchanged, when memory is short (velk 100 raised).
	bool RegisterPrivateFileKind(const VString& id, const VString& description,
		const std::vector<VString>& extensions, const std::vector<VString>& parentIDs);
	bool RegisterPrivateFileKind(const VString& id, const std::vector<VString>& osKinds,
		const VString& description, const std::vector<VString>& extensions,
		const std::vector<VString>& parentIDs);

	// The first registered kind, in identifier order, having the extension (not case-sensitive), retained;
	// otherwise the system's kind of the extension, registered under its identifier unless a kind already
	// is; null when the system has none.
	VFileKind* RetainFirstFileKindMatchingWithExtension(const VString& extension);
	// The first registered kind, in identifier order, having the type code (exact), retained; otherwise
	// the system's kind of the code, not registered; null when the system has none.
	VFileKind* RetainFirstFileKindMatchingWithOsKind(const VString& osKind);

	// Label 0 is the choice of all files ("All"), 1 that of all readable documents ("All readable
	// documents"). Other indexes and empty texts change nothing; an index other than 0 or 1 leaves the
	// output as it was.
	void RegisterLocalizedString(long index, const VString& text);
	void GetLocalizedString(long index, VString& text) const;

	static VFileKindManager* sManager;

private:
	// Identifiers ordered without case or diacritic sensitivity.
	struct IDLess
	{
		bool operator()(const VString& a, const VString& b) const { return a.CompareToString(b, false) == CR_SMALLER; }
	};

	// Puts kind under id with one more reference, releasing the kind it replaces; false when memory is
	// short (velk 100 raised). The caller holds fLock.
	bool _Register(const VString& id, VFileKind* kind);

	mutable VCriticalSection fLock;
	std::map<VString, VFileKind*, IDLess> fKinds;
	VString fLocalizedStrings[2];
};

}  // namespace velk
