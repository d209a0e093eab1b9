// Handed to iteration callbacks beside each entry: the times of the entry the iteration stands on.
#pragma once

#include "kernel/VExport.h"

#include "runtime/VError.h"

namespace velk {

class VTime;

class VELK_API IFileAttributeAccessor
{
public:
	virtual ~IFileAttributeAccessor() = default;
	// Each non-null time receives the current entry's; velk 3 when there is none.
	virtual VError GetTime(VTime* modified, VTime* created, VTime* accessed) const = 0;
};

}  // namespace velk
