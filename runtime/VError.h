// Error codes (component signature in the high 32 bits, signed number in the low 32) and the raising call.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace velk {

class VString;

using VError = uint64;

constexpr VError MakeVError(OsType signature, int32 number)
{
	return (VError(signature) << 32) | VError(uint32(number));
}

constexpr OsType ERRCODE_SIGNATURE(VError code) { return OsType(code >> 32); }
constexpr int32 ERRCODE_NUMBER(VError code) { return int32(uint32(code & 0xFFFFFFFFu)); }

constexpr OsType kVELK_SIGNATURE = FourCharCode("velk");
constexpr OsType kCARBON_SIGNATURE = FourCharCode("CARB");
constexpr OsType kPOSIX_SIGNATURE = FourCharCode("POSX");
constexpr OsType kMACH_SIGNATURE = FourCharCode("MACH");
constexpr OsType kCOCOA_SIGNATURE = FourCharCode("COCO");

constexpr VError VE_OK = 0;

// Whether code comes from the system or a framework rather than the toolbox.
constexpr bool IsNativeError(VError code)
{
	const OsType signature = ERRCODE_SIGNATURE(code);
	return signature == kCARBON_SIGNATURE || signature == kCOCOA_SIGNATURE || signature == kMACH_SIGNATURE
		|| signature == kPOSIX_SIGNATURE;
}

// A system call's errno as a native code; 0 is success.
constexpr VError MakePosixError(int errorNumber)
{
	return errorNumber == 0 ? VE_OK : MakeVError(kPOSIX_SIGNATURE, errorNumber);
}
constexpr VError VE_UNKNOWN_ERROR = MakeVError(kVELK_SIGNATURE, 1);
constexpr VError VE_UNIMPLEMENTED = MakeVError(kVELK_SIGNATURE, 2);
constexpr VError VE_INVALID_PARAMETER = MakeVError(kVELK_SIGNATURE, 3);
constexpr VError VE_CANNOT_INITIALIZE_APPLICATION = MakeVError(kVELK_SIGNATURE, 4);
constexpr VError VE_ACCESS_DENIED = MakeVError(kVELK_SIGNATURE, 5);
constexpr VError VE_USER_ABORT = MakeVError(kVELK_SIGNATURE, 6);
constexpr VError VE_TIMEOUT = MakeVError(kVELK_SIGNATURE, 8);
constexpr VError VE_MEMORY_FULL = MakeVError(kVELK_SIGNATURE, 100);
constexpr VError VE_STRING_ALLOC_FAILED = MakeVError(kVELK_SIGNATURE, 107);
constexpr VError VE_STACK_OVERFLOW = MakeVError(kVELK_SIGNATURE, 108);
constexpr VError VE_STREAM_EOF = MakeVError(kVELK_SIGNATURE, 200);

// Records an error object for code on the calling task's error stack, with each non-null text as the
// parameter "p1", "p2" or "p3". Records nothing while no process object exists, nor for an error raised
// while this thread is already building one. When memory is too short to make or store the error, one
// shared out-of-memory error (velk 100, task id 0) is recorded in its place; a text that cannot be
// stored is left out. That shared error is seen by every thread: read it, never change it. Never throws.
VELK_API void _ThrowError(VError code, const VString* p1 = nullptr, const VString* p2 = nullptr,
	const VString* p3 = nullptr) noexcept;

}  // namespace velk
