#include "platform/NetworkCounters.h"

#include <cstdio>
#include <cstring>

#include "platform/ProcFiles.h"

namespace plat {

namespace {

constexpr char kLoopbackLinkType[] = "772";

bool IsLoopback(const std::string& root, const std::string& name)
{
	std::string type = ReadTextFile(JoinRoot(root, "/sys/class/net/") + name + "/type", 64);
	while (!type.empty() && (type.back() == '\n' || type.back() == ' '))
		type.pop_back();
	return type.empty() ? name == "lo" : type == kLoopbackLinkType;
}

}  // namespace

bool ReadNetworkByteTotals(const std::string& root, ByteTotals& totals)
{
	// Two heading lines, then "<name>: <8 received counters> <8 sent counters>", bytes first in each group.
	const std::string text = ReadTextFile(JoinRoot(root, "/proc/net/dev"));
	ByteTotals sum;
	bool any = false;
	for (const std::string& line : SplitLines(text))
	{
		const size_t colon = line.find(':');
		if (colon == std::string::npos)
			continue;
		const size_t first = line.find_first_not_of(' ');
		const std::string name = line.substr(first, colon - first);
		unsigned long long received = 0, sent = 0, skipped = 0;
		if (std::sscanf(line.c_str() + colon + 1, "%llu %llu %llu %llu %llu %llu %llu %llu %llu", &received, &skipped, &skipped, &skipped,
				&skipped, &skipped, &skipped, &skipped, &sent) != 9)
			continue;
		any = true;
		if (IsLoopback(root, name))
			continue;
		sum.received += received;
		sum.sent += sent;
	}
	if (!any)
		return false;
	totals = sum;
	return true;
}

bool NetworkThroughputSampler::Sample(const std::string& root, uint64_t nowMilliseconds, double& receivedPerSecond, double& sentPerSecond)
{
	std::lock_guard<std::mutex> lock(fMutex);
	ByteTotals totals;
	const bool read = ReadNetworkByteTotals(root, totals);
	const bool answered = read && fHasPrevious && nowMilliseconds > fPreviousTime && totals.received >= fPrevious.received
		&& totals.sent >= fPrevious.sent;
	if (answered)
	{
		const double elapsed = double(nowMilliseconds - fPreviousTime);
		receivedPerSecond = double(totals.received - fPrevious.received) / elapsed * 1000.0;
		sentPerSecond = double(totals.sent - fPrevious.sent) / elapsed * 1000.0;
	}
	fHasPrevious = read;
	fPreviousTime = nowMilliseconds;
	fPrevious = totals;
	return answered;
}

}  // namespace plat
