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
	// The name goes first: whoever sees the token leave the process's set sees its memory given back.
	fName.Clear();
	// A token made before the process object, or outliving it, has no set to leave.
	if (VProcess* process = VProcess::sInstance; fRegistered && process != nullptr)
		process->UnregisterActivityToken(this);
}

}  // namespace velk
