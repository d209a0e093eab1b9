// The bag loader's UUID mapping.
#include "containers/VBagLoader.h"

#include <new>

#include "containers/VValueBag.h"
#include "runtime/VError.h"

namespace velk {

VBagLoader::VBagLoader(bool regenerateUUIDs, bool secondFlag)
	: fRegenerateUUIDs(regenerateUUIDs), fSecondFlag(secondFlag)
{
}

const StBagKeyWithDefault<VUUID, VUUID>& VBagLoader::UUIDKey()
{
	// Built on first use: the null UUID it copies is another file's static.
	static const StBagKeyWithDefault<VUUID, VUUID> sKey("uuid", VUUID::sNullUUID);
	return sKey;
}

bool VBagLoader::GetUUID(const VValueBag& bag, VUUID& uuid)
{
	if (!fRegenerateUUIDs)
	{
		if (UUIDKey().Get(&bag, uuid))
			return true;
		uuid.Clear();
		uuid.Regenerate(VUUID::eVersion_Random);
		return false;
	}
	VUUID read;
	const bool found = UUIDKey().Get(&bag, read);
	if (!found || read.IsNull())
	{
		uuid.Regenerate(VUUID::eVersion_Random);
		return found;
	}
	const auto mapped = fUUIDs.find(read);
	if (mapped != fUUIDs.end())
	{
		uuid = mapped->second;
		return true;
	}
	uuid.Regenerate(VUUID::eVersion_Random);
	try
	{
		fUUIDs.emplace(read, uuid);
	}
	catch (const std::bad_alloc&)
	{
		// Unmapped, a later mention gets another UUID: the object still loads, its links do not.
		_ThrowError(VE_MEMORY_FULL);
	}
	return true;
}

void VBagLoader::ResolveUUID(VUUID& uuid) const
{
	const auto mapped = fUUIDs.find(uuid);
	if (mapped != fUUIDs.end())
		uuid = mapped->second;
}

}  // namespace velk
