// The system facade's information about the machine: network adapters, disks, throughput and processor
// loads, read by the platform layer and turned into JSON here.
#include "files/mac/XMacSystem.h"

#include <string>

#include "files/VSystem.h"
#include "files/mac/XMacVolumes.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "platform/Clock.h"
#include "platform/DiskInfo.h"
#include "platform/MountTable.h"
#include "platform/NetworkAdapters.h"
#include "platform/NetworkCounters.h"
#include "platform/ProcStat.h"
#include "platform/ThreadTimes.h"

namespace velk {

namespace {

const std::string kRoot("/");

// A volume's space is never waited for longer: an unreachable server must not hold up the list.
constexpr int kVolumeSpaceTimeoutMs = 1000;

// The samples kept between calls, each with its own lock.
plat::NetworkThroughputSampler& ThroughputSampler()
{
	static plat::NetworkThroughputSampler sSampler;
	return sSampler;
}

plat::ProcessorLoadSampler& LoadSampler()
{
	static plat::ProcessorLoadSampler sSampler;
	return sSampler;
}

plat::ProcessUseSampler& ProcessSampler()
{
	static plat::ProcessUseSampler sSampler;
	return sSampler;
}

void Set(const VJSONValue& object, const char* name, const VJSONValue& value)
{
	object.SetProperty(VString(name), value);
}

VJSONValue Text(const std::string& text)
{
	return VJSONValue(VString(text.c_str()));
}

VJSONValue Number(uint64 value)
{
	return VJSONValue(double(value));
}

VJSONValue DeviceObject(const plat::DiskDevice& device, bool member)
{
	// A volume's members list their size first, a plain disk its bus.
	VJSONValue object(JSON_object);
	if (member)
	{
		Set(object, "size", Number(device.sizeKilobytes));
		Set(object, "description", Text(device.description));
		Set(object, "interface", Text(device.interfaceName));
	}
	else
	{
		Set(object, "interface", Text(device.interfaceName));
		Set(object, "description", Text(device.description));
		Set(object, "size", Number(device.sizeKilobytes));
	}
	Set(object, "identifier", Text(device.identifier));
	return object;
}

VJSONValue DiskValue(const plat::DiskPartition& partition)
{
	switch (partition.kind)
	{
		case plat::DiskKind::kNetwork:
		{
			VJSONValue disk(JSON_object);
			Set(disk, "interface", Text("network"));
			Set(disk, "description", Text(""));
			Set(disk, "identifier", Text(""));
			Set(disk, "size", Number(0));
			return disk;
		}
		case plat::DiskKind::kLogical:
		{
			VJSONValue members(JSON_array);
			for (const plat::DiskDevice& device : partition.devices)
				members.GetArray()->Push(DeviceObject(device, true));
			return members;
		}
		case plat::DiskKind::kPlain:
		default:
			return partition.devices.empty() ? VJSONValue(JSON_object) : DeviceObject(partition.devices.front(), false);
	}
}

}  // namespace

void XMacSystem::AppendNetworkAdapters(const std::vector<plat::NetworkAdapter>& adapters, VJSONArray& out)
{
	for (const plat::NetworkAdapter& adapter : adapters)
	{
		VJSONValue addresses(JSON_array);
		for (const plat::AdapterAddress& address : adapter.addresses)
		{
			VJSONValue item(JSON_object);
			Set(item, "ip", Text(address.ip));
			Set(item, "type", Text(address.type));
			addresses.GetArray()->Push(item);
		}
		VJSONValue object(JSON_object);
		Set(object, "type", Text(adapter.type));
		Set(object, "name", Text(adapter.name));
		Set(object, "ipAddresses", addresses);
		out.Push(object);
	}
}

void XMacSystem::AppendDiskPartitions(const std::vector<plat::DiskPartition>& partitions, XMacVolumes& volumes, VJSONArray& out)
{
	for (const plat::DiskPartition& partition : partitions)
	{
		std::string name = partition.label;
		if (name.empty())
		{
			char volumeName[1024];
			if (volumes.GetVolumeNameFromMountPath(partition.mountPoint.c_str(), volumeName, sizeof(volumeName)))
				name = volumeName;
		}
		VJSONValue object(JSON_object);
		Set(object, "mountPoint", Text(partition.mountPoint));
		Set(object, "capacity", Number(partition.capacityKilobytes));
		Set(object, "available", Number(partition.availableKilobytes));
		Set(object, "filesystem", Text(partition.fileSystemType));
		Set(object, "name", Text(name));
		Set(object, "disk", DiskValue(partition));
		out.Push(object);
	}
}

void XMacSystem::GetNetworkAdaptersInformations(VJSONArray& out)
{
	std::vector<plat::NetworkAdapter> adapters;
	if (plat::ListNetworkAdapters(adapters))
		AppendNetworkAdapters(adapters, out);
}

void XMacSystem::GetDiskPartitionsInfos(VJSONArray& out)
{
	std::vector<plat::MountEntry> mounts;
	if (plat::ReadMountTable(mounts) != 0)
		return;
	std::vector<plat::DiskPartition> partitions;
	plat::ListDiskPartitions(kRoot, mounts, plat::ReadVolumeSpace, kVolumeSpaceTimeoutMs, partitions);
	AppendDiskPartitions(partitions, XMacVolumes::fInstance, out);
}

bool XMacSystem::GetInOutNetworkStats(std::vector<double>& rates)
{
	rates.clear();
	double received = 0.0, sent = 0.0;
	if (!ThroughputSampler().Sample(kRoot, plat::GetMonotonicMilliseconds(), received, sent))
		return false;
	rates.push_back(received);
	rates.push_back(sent);
	return true;
}

bool XMacSystem::GetProcessorsPercentageUse(double& load)
{
	return LoadSampler().Sample(kRoot, load);
}

double XMacSystem::GetApplicationProcessorsPercentageUse()
{
	return ProcessSampler().Sample(kRoot, plat::GetBootClockSeconds(), GetNumberOfLogicalProcessors());
}

}  // namespace velk
