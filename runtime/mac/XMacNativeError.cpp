#include "runtime/mac/XMacNativeError.h"

#include <cerrno>
#include <cstring>

#include "kernel/strings/VString.h"

namespace velk {

namespace {

// Both forms of strerror_r: the GNU one hands back its text, the POSIX one fills the buffer.
[[maybe_unused]] const char* StrErrorResult(const char* result, const char*)
{
	return result;
}

[[maybe_unused]] const char* StrErrorResult(int result, const char* buffer)
{
	return (result == 0 || result == ERANGE) ? buffer : nullptr;
}

}  // namespace

bool XMacNativeError::GetDescription(VError code, VString& text)
{
	if (ERRCODE_SIGNATURE(code) != kPOSIX_SIGNATURE)
		return false;
	char buffer[1024];
	buffer[0] = 0;
	const char* message = StrErrorResult(strerror_r(ERRCODE_NUMBER(code), buffer, sizeof(buffer)), buffer);
	if (message == nullptr || message[0] == 0)
		return false;
	text = VString(message);
	return true;
}

}  // namespace velk
