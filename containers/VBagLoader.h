// Context of loading objects from bags: gives each loaded object its UUID, either the one stored in its
// bag or, when regenerating, a new one that every later mention of the stored UUID maps to, so that a
// loaded copy of a graph gets fresh identities with its links kept.
#pragma once

#include "kernel/VExport.h"

#include <map>

#include "containers/StBagKey.h"
#include "kernel/memory/VObject.h"
#include "kernel/values/VUUID.h"

namespace velk {

class VValueBag;

class VELK_API VBagLoader : public VObject
{
public:
	// regenerateUUIDs selects new UUIDs for loaded objects; the other flags are only read by objects that
	// load themselves from bags.
	VBagLoader(bool regenerateUUIDs, bool secondFlag);
	~VBagLoader() override = default;

	bool IsRegeneratingUUIDs() const { return fRegenerateUUIDs; }
	bool GetSecondFlag() const { return fSecondFlag; }
	bool GetThirdFlag() const { return fThirdFlag; }
	void SetThirdFlag(bool flag) { fThirdFlag = flag; }
	bool GetFourthFlag() const { return fFourthFlag; }
	void SetFourthFlag(bool flag) { fFourthFlag = flag; }

	// The UUID of the object the bag holds. Without regeneration: the bag's "uuid" attribute (true), or,
	// when it has none, a new random UUID (false). With regeneration: the UUID mapped to the bag's one,
	// mapping it to a new random UUID the first time it is met; a new UUID when the bag has none or a null
	// one; true when the attribute was read.
	bool GetUUID(const VValueBag& bag, VUUID& uuid);
	// Replaces uuid by the UUID it was mapped to, when it was.
	void ResolveUUID(VUUID& uuid) const;

	// The key "uuid" of the bags objects are saved into; null UUID by default.
	static const StBagKeyWithDefault<VUUID, VUUID>& UUIDKey();

private:
	bool fRegenerateUUIDs;
	bool fSecondFlag;
	bool fThirdFlag = true;
	bool fFourthFlag = true;
	std::map<VUUID, VUUID> fUUIDs;
};

}  // namespace velk
