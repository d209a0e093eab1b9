// The facade's information about the machine, for diagnostics.
#include "files/VSystem.h"

#include "files/mac/XMacSystem.h"

namespace velk {

void VSystem::GetNetworkAdaptersInformations(VJSONArray& out)
{
	XMacSystem::GetNetworkAdaptersInformations(out);
}

void VSystem::GetDiskPartitionsInfos(VJSONArray& out)
{
	XMacSystem::GetDiskPartitionsInfos(out);
}

bool VSystem::GetInOutNetworkStats(std::vector<double>& rates)
{
	return XMacSystem::GetInOutNetworkStats(rates);
}

bool VSystem::GetProcessorsPercentageUse(double& load)
{
	return XMacSystem::GetProcessorsPercentageUse(load);
}

double VSystem::GetApplicationProcessorsPercentageUse()
{
	return XMacSystem::GetApplicationProcessorsPercentageUse();
}

}  // namespace velk
