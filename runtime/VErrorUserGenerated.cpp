#include "runtime/VErrorUserGenerated.h"

#include <new>

#include "runtime/VTask.h"

namespace velk {

VErrorUserGenerated::VErrorUserGenerated(VError code, const VString& text) : VErrorBase(code), fText(text) {}

void VErrorUserGenerated::GetErrorDescription(VString& text) const
{
	text = fText;
}

void VErrorUserGenerated::DumpToString(VString& text) const
{
	text = fText;
}

VErrorImported::VErrorImported(VError code, const VString& text) : VErrorBase(code), fText(text) {}

void VErrorImported::GetErrorDescription(VString& text) const
{
	text = fText;
}

void VErrorImported::DumpToString(VString& text) const
{
	text = fText;
}

void VErrorImported::GetLocation(VString& text) const
{
	text = VString("REST Imported Error");
}

VError vThrowUserGeneratedError(VError code, const VString& text)
{
	VErrorUserGenerated* error = new (std::nothrow) VErrorUserGenerated(code, text);
	if (error == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return code;
	}
	VTask::PushRetainedError(error);
	return code;
}

}  // namespace velk
