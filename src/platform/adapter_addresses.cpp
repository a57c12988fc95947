#include "platform/adapter_addresses.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <map>
#include <memory>
#include <set>
#include <string>

namespace {

struct IfaddrsFree {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

std::vector<HardwareAddress> ListIpv4AdapterHardwareAddresses() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return {};
  std::unique_ptr<ifaddrs, IfaddrsFree> list(raw);
  std::set<std::string> ipv4;
  std::map<std::string, HardwareAddress> hardware;
  for (ifaddrs* a = list.get(); a; a = a->ifa_next) {
    if (!a->ifa_addr || (a->ifa_flags & IFF_LOOPBACK)) continue;
    if (a->ifa_addr->sa_family == AF_INET) ipv4.insert(a->ifa_name);
    if (a->ifa_addr->sa_family == AF_PACKET) {
      auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
      HardwareAddress address{};
      if (ll->sll_halen == address.size())
        std::copy(ll->sll_addr, ll->sll_addr + address.size(), address.begin());
      hardware[a->ifa_name] = address;
    }
  }
  std::map<unsigned, HardwareAddress> by_index;
  for (const std::string& name : ipv4) {
    auto it = hardware.find(name);
    by_index[if_nametoindex(name.c_str())] = it == hardware.end() ? HardwareAddress{} : it->second;
  }
  std::vector<HardwareAddress> out;
  for (auto& [index, address] : by_index) out.push_back(address);
  return out;
}
