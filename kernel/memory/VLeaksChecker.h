// Leak accounting embedded in the memory manager; it counts nothing until block registration exists.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VELK_API VLeaksChecker
{
public:
	VLeaksChecker() = default;
	virtual ~VLeaksChecker() = default;
};

}  // namespace velk
