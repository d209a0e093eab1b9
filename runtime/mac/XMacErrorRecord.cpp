#include "runtime/mac/XMacErrorRecord.h"

namespace velk {

VError MakeVErrorFromCFError(const plat::ErrorRecord* error)
{
	if (error == nullptr)
		return VE_OK;
	OsType signature = 0;
	switch (error->fDomain)
	{
		case plat::ErrorRecord::kDomain_Status: signature = kCARBON_SIGNATURE; break;
		case plat::ErrorRecord::kDomain_POSIX: signature = kPOSIX_SIGNATURE; break;
		case plat::ErrorRecord::kDomain_Kernel: signature = kMACH_SIGNATURE; break;
		case plat::ErrorRecord::kDomain_Framework: signature = kCOCOA_SIGNATURE; break;
		default: return VE_UNKNOWN_ERROR;
	}
	return MakeVError(signature, int32(uint32(uint64_t(error->fCode) & 0xFFFFFFFFu)));
}

VError MakeVErrorFromCFErrorAndRelease(plat::ErrorRecord* error)
{
	const VError code = MakeVErrorFromCFError(error);
	delete error;
	return code;
}

VError MakeVErrorFromNSError(const plat::ErrorRecord* error)
{
	return MakeVErrorFromCFError(error);
}

}  // namespace velk
