// Errors whose text is given whole by whoever raises them: one written by a user of the toolbox, and one
// imported from a remote service. Neither asks a localizer.
#pragma once

#include "kernel/VExport.h"

#include "runtime/VErrorBase.h"

namespace velk {

class VELK_API VErrorUserGenerated : public VErrorBase
{
public:
	VErrorUserGenerated(VError code, const VString& text);

	// Both give the stored text.
	void GetErrorDescription(VString& text) const override;
	void DumpToString(VString& text) const override;

private:
	VString fText;
};

class VELK_API VErrorImported : public VErrorBase
{
public:
	VErrorImported(VError code, const VString& text);

	// Both give the stored text.
	void GetErrorDescription(VString& text) const override;
	void DumpToString(VString& text) const override;
	// "REST Imported Error".
	void GetLocation(VString& text) const override;

private:
	VString fText;
};

// Pushes a VErrorUserGenerated with code and text on the calling task's error context; answers code.
VELK_API VError vThrowUserGeneratedError(VError code, const VString& text);

}  // namespace velk
