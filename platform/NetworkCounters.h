// The machine's network traffic from the kernel's interface counters (/proc/net/dev), and the sampler that
// turns two readings into bytes per second for the system information.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace plat {

struct ByteTotals
{
	uint64_t received = 0;
	uint64_t sent = 0;
};

// The 64-bit received and sent byte counters of root's /proc/net/dev, summed over every interface but the
// loopback ones (link type 772 in /sys/class/net/<name>/type; "lo" when the type cannot be read). False,
// totals untouched, when the file cannot be read or holds no interface line.
bool ReadNetworkByteTotals(const std::string& root, ByteTotals& totals);

// The throughput since the previous sample. Any thread may call; samples are taken under the sampler's lock.
class NetworkThroughputSampler
{
public:
	// Reads the totals at nowMilliseconds (a monotonic clock). True, with the rates (difference over elapsed
	// time, per second), when a previous sample exists, time has passed since it and neither total went
	// down (an interface went away or its counters were reset); false otherwise, rates untouched. The new
	// reading always becomes the previous sample; an unreadable one leaves none, so the next call is a first.
	bool Sample(const std::string& root, uint64_t nowMilliseconds, double& receivedPerSecond, double& sentPerSecond);

private:
	std::mutex fMutex;
	bool fHasPrevious = false;
	uint64_t fPreviousTime = 0;
	ByteTotals fPrevious;
};

}  // namespace plat
