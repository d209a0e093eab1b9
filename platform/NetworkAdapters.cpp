#include "platform/NetworkAdapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/ProcFiles.h"

namespace plat {

namespace {

bool Exists(const std::string& path)
{
	struct stat info;
	return ::lstat(path.c_str(), &info) == 0;
}

std::string AddressText(const sockaddr* address)
{
	char text[INET6_ADDRSTRLEN] = {};
	const void* bytes = address->sa_family == AF_INET ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr)
		: static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
	if (::inet_ntop(address->sa_family, bytes, text, sizeof(text)) == nullptr)
		return std::string();
	return text;
}

// The 32 hexadecimal digits of an address in if_inet6 as its text form; empty when malformed.
std::string IPv6TextFromHex(const char* hex)
{
	in6_addr address;
	for (int i = 0; i < 16; ++i)
	{
		char pair[3] = { hex[2 * i], hex[2 * i + 1], 0 };
		char* end = nullptr;
		const unsigned long byte = std::strtoul(pair, &end, 16);
		if (end != pair + 2)
			return std::string();
		address.s6_addr[i] = uint8_t(byte);
	}
	char text[INET6_ADDRSTRLEN] = {};
	return ::inet_ntop(AF_INET6, &address, text, sizeof(text)) != nullptr ? std::string(text) : std::string();
}

bool IsUsable(const InterfaceAddress& address, const std::map<std::pair<std::string, std::string>, unsigned int>& ipv6Flags)
{
	constexpr unsigned int kMask = IFF_UP | IFF_LOOPBACK | IFF_POINTOPOINT | IFF_MULTICAST;
	if ((address.family != AF_INET && address.family != AF_INET6) || (address.flags & kMask) != (IFF_UP | IFF_MULTICAST) || !address.hasNetmask)
		return false;
	if (address.family == AF_INET6)
	{
		const auto found = ipv6Flags.find({ address.interfaceName, address.address });
		if (found != ipv6Flags.end() && (found->second & kUnusableIPv6AddressFlags) != 0)
			return false;
	}
	return true;
}

}  // namespace

bool ReadInterfaceAddresses(std::vector<InterfaceAddress>& addresses)
{
	addresses.clear();
	ifaddrs* list = nullptr;
	if (::getifaddrs(&list) != 0)
		return false;
	for (const ifaddrs* item = list; item != nullptr; item = item->ifa_next)
	{
		if (item->ifa_addr == nullptr || item->ifa_name == nullptr)
			continue;
		const int family = item->ifa_addr->sa_family;
		if (family != AF_INET && family != AF_INET6)
			continue;
		InterfaceAddress address;
		address.interfaceName = item->ifa_name;
		address.family = family;
		address.flags = item->ifa_flags;
		address.address = AddressText(item->ifa_addr);
		address.hasNetmask = item->ifa_netmask != nullptr && item->ifa_netmask->sa_family == family;
		if (!address.address.empty())
			addresses.push_back(std::move(address));
	}
	::freeifaddrs(list);
	return true;
}

std::vector<std::string> ReadInterfaceNames()
{
	std::vector<std::string> names;
	if (struct if_nameindex* list = ::if_nameindex())
	{
		for (const struct if_nameindex* item = list; item->if_index != 0 && item->if_name != nullptr; ++item)
			names.push_back(item->if_name);
		::if_freenameindex(list);
	}
	return names;
}

std::map<std::pair<std::string, std::string>, unsigned int> ReadIPv6AddressFlags(const std::string& root)
{
	// Lines of "<32 hex digits> <index> <prefix length> <scope> <flags> <name>", numbers in hexadecimal.
	std::map<std::pair<std::string, std::string>, unsigned int> flags;
	const std::string text = ReadTextFile(JoinRoot(root, "/proc/net/if_inet6"));
	for (const std::string& line : SplitLines(text))
	{
		char hex[33] = {};
		char name[IF_NAMESIZE + 1] = {};
		unsigned int index = 0, prefix = 0, scope = 0, value = 0;
		if (std::sscanf(line.c_str(), "%32s %x %x %x %x %16s", hex, &index, &prefix, &scope, &value, name) != 6 || std::strlen(hex) != 32)
			continue;
		const std::string address = IPv6TextFromHex(hex);
		if (!address.empty())
			flags[{ name, address }] = value;
	}
	return flags;
}

std::string ReadInterfaceType(const std::string& root, const std::string& name)
{
	const std::string folder = JoinRoot(root, "/sys/class/net/") + name;
	if (Exists(folder + "/wireless") || Exists(folder + "/phy80211"))
		return "wifi";
	const std::string linkType = TrimBlanks(ReadTextFile(folder + "/type", 64));
	if (linkType == "1")
		return "ethernet";
	const std::string uevent = ReadTextFile(folder + "/uevent", 65536);
	std::string type;
	if (FindLineValue(uevent, "DEVTYPE=", type) && !type.empty())
		return type;
	return linkType;
}

void CollectNetworkAdapters(const std::string& root, const std::vector<InterfaceAddress>& addresses,
	const std::vector<std::string>& names, const std::map<std::pair<std::string, std::string>, unsigned int>& ipv6Flags,
	std::vector<NetworkAdapter>& adapters)
{
	std::map<std::string, std::vector<AdapterAddress>> kept;
	for (const InterfaceAddress& address : addresses)
	{
		if (IsUsable(address, ipv6Flags))
			kept[address.interfaceName].push_back({ address.address, address.family == AF_INET ? "ipv4" : "ipv6" });
	}
	std::set<std::string> done;
	for (const std::string& name : names)
	{
		const auto found = kept.find(name);
		if (found == kept.end() || !done.insert(name).second)
			continue;
		adapters.push_back({ name, ReadInterfaceType(root, name), found->second });
	}
}

bool ListNetworkAdapters(std::vector<NetworkAdapter>& adapters)
{
	std::vector<InterfaceAddress> addresses;
	if (!ReadInterfaceAddresses(addresses))
		return false;
	CollectNetworkAdapters("/", addresses, ReadInterfaceNames(), ReadIPv6AddressFlags("/"), adapters);
	return true;
}

}  // namespace plat
