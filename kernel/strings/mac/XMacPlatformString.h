// The opaque VPlatformString of VString's platform bridge is the platform's string object: these two
// conversions are the only place that says so, keeping the platform type out of VString.h and out of the
// library's exported interface.
#pragma once

#include "kernel/strings/VString.h"
#include "platform/SharedText.h"

namespace velk {

inline plat::SharedText* ToSharedText(VPlatformString* s)
{
	return reinterpret_cast<plat::SharedText*>(s);
}

inline const plat::SharedText* ToSharedText(const VPlatformString* s)
{
	return reinterpret_cast<const plat::SharedText*>(s);
}

inline VPlatformString* ToPlatformString(plat::SharedText* text)
{
	return reinterpret_cast<VPlatformString*>(text);
}

inline const VPlatformString* ToPlatformString(const plat::SharedText* text)
{
	return reinterpret_cast<const VPlatformString*>(text);
}

}  // namespace velk
