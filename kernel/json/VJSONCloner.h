// The context of one deep copy of JSON containers: it remembers every container copied, so that a
// container reached twice, or through a cycle, has exactly one copy, and it can put the copies under one
// storage locker of their own.
#pragma once

#include "kernel/VExport.h"

#include <map>

#include "kernel/VKernelTypes.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/memory/VObject.h"
#include "runtime/VError.h"

namespace velk {

class VJSONObject;
class VJSONArray;
class VStorageLocker;

class VELK_API VJSONCloner : public VObject
{
public:
	// Modes, read by VJSONObject::Clone and VJSONArray::Clone.
	static constexpr uint32 kCloneAll = 0;
	// Shared containers (and objects whose implementation may be shared) are kept, not copied.
	static constexpr uint32 kKeepShared = 1;
	// Every copy goes under the cloner's storage locker, so the whole copy is one shared tree.
	static constexpr uint32 kCloneIntoLocker = 2;

	explicit VJSONCloner(uint32 mode = kCloneAll);
	~VJSONCloner() override;

	VJSONCloner(const VJSONCloner&) = delete;
	VJSONCloner& operator=(const VJSONCloner&) = delete;

	// The copy of source, made once per cloner: a container met again gives its first copy. A null
	// source gives undefined. Returns the first error (velk 100 when memory is short, velk 108 for
	// containers nested deeper than kJSONMaxNestingDepth); out then holds the part copied before it, or
	// undefined when the copy could not even be started.
	VError CloneObject(const VJSONObject* source, VJSONValue& out);
	VError CloneArray(const VJSONArray* source, VJSONValue& out);
	// Replaces an object or array value by its copy; other values stay as they are.
	VError CloneValue(VJSONValue& value);

	uint32 GetMode() const { return fMode; }

	// Whether the container a value holds is held once and not shared: it cannot be met again in the walk,
	// so its copy is a fresh tree of its own, recorded nowhere, that may be stored without linking.
	static bool IsHeldOnce(const VJSONValue& source);

	// The cloner's locker, made on first call (null and velk 100 when memory is short). A later call
	// makes it established, so that the copies already under it are tied together. Not retained for
	// the caller: the cloner holds it.
	VStorageLocker* GetStorageLockerAndAssignIfNecessary();
	// Retains the new locker and releases the former one.
	void SetStorageLocker(VStorageLocker* locker);

	// In the locker mode, puts a new copy (object or array) under the cloner's locker. False when that
	// locker cannot be made (velk 100 raised); the copy is then released.
	template <class CONTAINER>
	bool PlaceCopy(CONTAINER* copy)
	{
		if (fMode != kCloneIntoLocker)
			return true;
		VStorageLocker* locker = GetStorageLockerAndAssignIfNecessary();
		if (locker == nullptr)
		{
			copy->Release();
			return false;
		}
		copy->SetStorageLocker(locker);
		return true;
	}

private:
	// Source container to its copy; the copies are held until the cloner goes.
	std::map<const void*, VJSONValue> fClones;
	uint32 fMode;
	VStorageLocker* fLocker = nullptr;
	// Containers being copied above the current one.
	uint32 fDepth = 0;

	template <class Container>
	friend VError CloneContainer(const Container* source, VJSONValue& out, VJSONCloner& cloner);
};

}  // namespace velk
