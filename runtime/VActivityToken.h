// Marks work in progress: while a token lives the process counts as active (a running task holds one).
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/IRefCountable.h"
#include "kernel/strings/VString.h"

namespace velk {

class VELK_API VActivityToken : public IRefCountable
{
public:
	// Registers with the process object, when there is one.
	explicit VActivityToken(const VString& name);
	// Unregisters from the process object it registered with, when it is still the process object.
	~VActivityToken() override;

	VActivityToken(const VActivityToken&) = delete;
	VActivityToken& operator=(const VActivityToken&) = delete;

	const VString& GetName() const { return fName; }

private:
	VString fName;
	bool fRegistered = false;
};

}  // namespace velk
