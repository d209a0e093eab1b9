// A failure as a system service reports it: the family its code belongs to, and the code.
#pragma once

#include <cstdint>

namespace plat {

struct ErrorRecord
{
	enum Domain
	{
		kDomain_Status,	 // the platform's own status codes
		kDomain_POSIX,	 // errno values
		kDomain_Kernel,	 // kernel return codes
		kDomain_Framework,  // the application framework's codes
		kDomain_Other
	};

	Domain fDomain = kDomain_Other;
	int64_t fCode = 0;
};

}  // namespace plat
