// Makes the process's standard progress indicators, so that a front end can give them its own display.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace velk {

class VProgressIndicator;

class VELK_API IProgressFactory
{
public:
	virtual ~IProgressFactory() = default;
	// A new indicator with one reference for the caller, or null.
	virtual VProgressIndicator* CreateProgressIndicator(int32 kind, uint32 options) = 0;
};

}  // namespace velk
