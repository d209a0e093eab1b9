#include "runtime/VActivityToken.h"

#include "runtime/VProcess.h"

namespace velk {

VActivityToken::VActivityToken(const VString& name) : fName(name)
{
	if (VProcess* process = VProcess::sInstance)
		fRegistered = process->RegisterActivityToken(this);
}

VActivityToken::~VActivityToken()
{
	// A token made before the process object, or outliving it, has no set to leave.
	if (VProcess* process = VProcess::sInstance; fRegistered && process != nullptr)
		process->UnregisterActivityToken(this);
}

}  // namespace velk
