// The machine's network adapters and their IPv4 and IPv6 addresses, for the system information: the interface
// addresses (getifaddrs) that a usable, multicast-capable link carries, grouped by interface in the order of
// the system's interface list, each adapter with its kind read from /sys/class/net.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace plat {

// One address of one interface, as the interface list gives it.
struct InterfaceAddress
{
	std::string interfaceName;
	int family = 0;			 // AF_INET or AF_INET6 for the addresses kept
	unsigned int flags = 0;	 // the interface's IFF_ flags
	std::string address;	 // the address's text form (inet_ntop, no scope suffix)
	bool hasNetmask = false; // a netmask of the address's own family
};

struct AdapterAddress
{
	std::string ip;
	std::string type;  // "ipv4" or "ipv6"
};

struct NetworkAdapter
{
	std::string name;
	std::string type;  // "wifi", "ethernet", the device type, or the link type number
	std::vector<AdapterAddress> addresses;
};

// IPv6 address flags that make an address unusable to others: temporary (0x01), failed duplicate detection
// (0x08), deprecated (0x20), tentative (0x40). The kernel has no detached state.
constexpr unsigned int kUnusableIPv6AddressFlags = 0x69;

// The addresses of every interface (getifaddrs), families other than IPv4 and IPv6 left out; false, addresses
// emptied, when the list cannot be read.
bool ReadInterfaceAddresses(std::vector<InterfaceAddress>& addresses);

// The interface names in the system's order (if_nameindex); empty when the list cannot be read.
std::vector<std::string> ReadInterfaceNames();

// The flags of each IPv6 address from root's /proc/net/if_inet6, keyed by interface name and the address's
// text form; empty when the file cannot be read.
std::map<std::pair<std::string, std::string>, unsigned int> ReadIPv6AddressFlags(const std::string& root);

// The kind of the interface from root's /sys/class/net/<name>: "wifi" when it has a "wireless" or "phy80211"
// entry, "ethernet" for link type 1, else the DEVTYPE of its uevent, else its link type number; empty when
// none of these can be read.
std::string ReadInterfaceType(const std::string& root, const std::string& name);

// The adapters of the addresses: an address is kept when its interface is up and multicast-capable and
// neither loopback nor point-to-point, it has a netmask of its family, and, for IPv6, its flags in ipv6Flags
// (an address not listed there counts as usable) have none of the unusable ones. The adapters come in the
// order of names, each with its addresses in the order given; interfaces without a kept address are left
// out, as are those missing from names. Appends to adapters.
void CollectNetworkAdapters(const std::string& root, const std::vector<InterfaceAddress>& addresses,
	const std::vector<std::string>& names, const std::map<std::pair<std::string, std::string>, unsigned int>& ipv6Flags,
	std::vector<NetworkAdapter>& adapters);

// The running machine's adapters (root "/"); false, nothing appended, when the address list cannot be read.
bool ListNetworkAdapters(std::vector<NetworkAdapter>& adapters);

}  // namespace plat
