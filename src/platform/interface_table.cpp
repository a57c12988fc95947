#include "platform/interface_table.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <fstream>
#include <map>
#include <memory>

namespace {

struct IfaddrsFree {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

Result<uint32_t> ReadLow32(const std::filesystem::path& file) {
  std::ifstream in(file);
  uint64_t value = 0;
  if (!(in >> value)) return Error{ENOENT, "read " + file.string()};
  return static_cast<uint32_t>(value);
}

}  // namespace

Result<std::vector<NetworkAdapter>> ListIpv4Adapters() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return Error::FromErrno("getifaddrs");
  std::unique_ptr<ifaddrs, IfaddrsFree> list(raw);
  std::map<unsigned, std::string> by_index;
  for (ifaddrs* a = list.get(); a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_LOOPBACK))
      continue;
    // An address label ("eth0:1") names its interface before the colon.
    std::string name = a->ifa_name;
    name = name.substr(0, name.find(':'));
    unsigned index = if_nametoindex(name.c_str());
    if (index != 0) by_index.emplace(index, name);
  }
  std::vector<NetworkAdapter> adapters;
  for (auto& [index, name] : by_index) adapters.push_back({index, name});
  return adapters;
}

Result<InterfaceByteCounters> InterfaceCounterReader::Read(
    const std::string& interface_name) const {
  std::filesystem::path statistics = root_ / interface_name / "statistics";
  Result<uint32_t> received = ReadLow32(statistics / "rx_bytes");
  if (!received) return received.error();
  Result<uint32_t> sent = ReadLow32(statistics / "tx_bytes");
  if (!sent) return sent.error();
  return InterfaceByteCounters{*received, *sent};
}
