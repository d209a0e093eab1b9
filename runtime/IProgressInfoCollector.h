// Gathers what a progress session leaves behind: its owner installs it on a session, and the indicator
// hands it the session as it ends.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VProgressIndicator;
class VProgressIndicatorInfo;

class VELK_API IProgressInfoCollector
{
public:
	virtual ~IProgressInfoCollector() = default;
	// Called under the indicator's lock, before the session is dropped.
	virtual void CollectInfo(VProgressIndicator& indicator, const VProgressIndicatorInfo& session) = 0;
};

}  // namespace velk
