#include "kernel_mode/nft_script.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr const char* kTable = "inet morvil";

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIx32, value);
  return text;
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

std::string Chain(const char* kind, const UserKeys& keys) {
  return std::string(kTable) + " " + kind + "_" + keys.name;
}

// The user's launcher group and program groups, launcher last.
std::vector<uint32_t> AllGroups(const std::vector<uint32_t>& groups) {
  std::vector<uint32_t> all = groups;
  all.push_back(kLauncherGroup);
  return all;
}

void AddCounters(std::string& script, const UserKeys& keys, const std::vector<uint32_t>& groups) {
  for (uint32_t group : AllGroups(groups))
    for (bool up : {true, false})
      script += "add counter " + std::string(kTable) + " " + CounterName(keys, group, up) + "\n";
}

void DeleteCounters(std::string& script, const UserKeys& keys,
                    const std::vector<uint32_t>& groups) {
  for (uint32_t group : groups)
    for (bool up : {true, false})
      script += "delete counter " + std::string(kTable) + " " + CounterName(keys, group, up) + "\n";
}

}  // namespace

std::string UserCgroup(const UserKeys& keys) {
  return "morvil/" + keys.name;
}

std::string GroupCgroup(const UserKeys& keys, uint32_t group) {
  return UserCgroup(keys) + "/g" + std::to_string(group);
}

std::string CounterName(const UserKeys& keys, uint32_t group, bool up) {
  std::string number = group == kLauncherGroup ? "l" : std::to_string(group);
  return keys.name + "_g" + number + (up ? "_up" : "_down");
}

std::string ApplyScript(const UserKeys& keys, const CatchPlan& plan,
                        const std::vector<uint32_t>& dropped_groups) {
  const std::string output = Chain("output", keys);
  const std::string prerouting = Chain("prerouting", keys);
  const std::string mark = Hex(keys.mark);
  std::string s = "add table " + std::string(kTable) + "\n";
  s += "add chain " + output + " { type route hook output priority mangle; policy accept; }\n";
  s += "add chain " + prerouting +
       " { type filter hook prerouting priority mangle; policy accept; }\n";
  AddCounters(s, keys, plan.groups);
  s += "flush chain " + output + "\n";
  s += "flush chain " + prerouting + "\n";

  const std::string out = "add rule " + output + " ";
  // Packets answering a connection that another side opened are never caught, and the relay's
  // answers to caught programs are left alone at once.
  s += out + "ct direction reply return\n";
  // Connections caught before go on through the relay, counted per group, without the tests
  // below; also once their program is caught no more (after Stop), until they end.
  for (uint32_t group : AllGroups(plan.groups))
    s += out + "ct direction original ct mark " + Hex(keys.ct_base | group) + " counter name \"" +
         CounterName(keys, group, true) + "\" meta mark set " + mark + " accept\n";
  const std::string caught_range = Hex(keys.ct_base | 1) + "-" + Hex(keys.ct_base | kLauncherGroup);
  s += out + "ct direction original ct mark " + caught_range + " meta mark set " + mark +
       " accept\n";
  if (plan.catching) {
    // New connections: only sockets of the user's cgroups are looked at further (every other
    // program of the machine passes here); never caught are destinations that do not leave this
    // machine or its link, name resolution and the proxy itself.
    s += out + "socket cgroupv2 level 2 != \"" + UserCgroup(keys) + "\" return\n";
    s += out + "meta l4proto != { tcp, udp } return\n";
    s += out + "th dport 53 return\n";
    s += out +
         "ip daddr { 0.0.0.0/8, 127.0.0.0/8, 169.254.0.0/16, 224.0.0.0/4, 255.255.255.255 } "
         "return\n";
    s += out + "ip6 daddr { ::/128, ::1/128, fe80::/10, ff00::/8 } return\n";
    s += out + "fib daddr type broadcast return\n";
    if (!plan.proxy_ipv4.empty()) s += out + "ip daddr { " + Join(plan.proxy_ipv4) + " } return\n";
    if (!plan.proxy_ipv6.empty()) s += out + "ip6 daddr { " + Join(plan.proxy_ipv6) + " } return\n";
    std::vector<std::pair<uint32_t, std::string>> caught;  // group, socket match
    for (uint32_t group : plan.groups)
      caught.emplace_back(group, "socket cgroupv2 level 3 \"" + GroupCgroup(keys, group) + "\" ");
    // Last: it matches the program groups' sockets too, which the rules above took already.
    if (plan.launcher)
      caught.emplace_back(kLauncherGroup, "socket cgroupv2 level 2 \"" + UserCgroup(keys) + "\" ");
    for (const auto& [group, socket] : caught) {
      if (plan.proxy_down) {
        s += out + socket + "meta l4proto tcp reject with tcp reset\n";
        s += out + socket + "meta l4proto udp reject\n";
      } else {
        s += out + socket + "counter name \"" + CounterName(keys, group, true) + "\" ct mark set " +
             Hex(keys.ct_base | group) + " meta mark set " + mark + " accept\n";
      }
    }
  }

  const std::string pre = "add rule " + prerouting + " ";
  for (uint32_t group : AllGroups(plan.groups))
    s += pre + "ct direction reply ct mark " + Hex(keys.ct_base | group) + " counter name \"" +
         CounterName(keys, group, false) + "\"\n";
  const std::string marked = pre + "meta mark " + mark + " ";
  s += marked + "meta nfproto ipv4 meta l4proto tcp tproxy ip to 127.0.0.1:" +
       std::to_string(plan.ports.tcp4) + " accept\n";
  s += marked + "meta nfproto ipv4 meta l4proto udp tproxy ip to 127.0.0.1:" +
       std::to_string(plan.ports.udp4) + " accept\n";
  if (plan.ports.tcp6 != 0 && plan.ports.udp6 != 0) {
    s += marked + "meta nfproto ipv6 meta l4proto tcp tproxy ip6 to [::1]:" +
         std::to_string(plan.ports.tcp6) + " accept\n";
    s += marked + "meta nfproto ipv6 meta l4proto udp tproxy ip6 to [::1]:" +
         std::to_string(plan.ports.udp6) + " accept\n";
  }
  s += marked + "drop\n";
  DeleteCounters(s, keys, dropped_groups);
  return s;
}

std::string RemovalScript(const UserKeys& keys, const std::vector<uint32_t>& groups) {
  std::string s;
  for (const char* kind : {"output", "prerouting"}) {
    s += "flush chain " + Chain(kind, keys) + "\n";
    s += "delete chain " + Chain(kind, keys) + "\n";
  }
  DeleteCounters(s, keys, AllGroups(groups));
  return s;
}

std::string ListTableScript() {
  return "list table " + std::string(kTable) + "\n";
}

std::string DeleteTableScript() {
  return "delete table " + std::string(kTable) + "\n";
}

std::vector<uint32_t> ChainOwners(const std::string& listing) {
  std::vector<uint32_t> owners;
  const std::string marker = "chain output_u";
  for (size_t at = listing.find(marker); at != std::string::npos;
       at = listing.find(marker, at + 1)) {
    size_t digits = at + marker.size();
    uint64_t uid = 0;
    size_t end = digits;
    while (end < listing.size() && listing[end] >= '0' && listing[end] <= '9' && end - digits < 10)
      uid = uid * 10 + static_cast<uint64_t>(listing[end++] - '0');
    if (end > digits && end < listing.size() && listing[end] == ' ' && uid <= UINT32_MAX)
      owners.push_back(static_cast<uint32_t>(uid));
  }
  return owners;
}

uint64_t CounterBytes(const std::string& listing, const std::string& name) {
  const std::string marker = "counter " + name + " {";
  size_t at = listing.find(marker);
  if (at == std::string::npos) return 0;
  size_t close = listing.find('}', at);
  size_t bytes = listing.find("bytes ", at);
  if (bytes == std::string::npos || bytes > close) return 0;
  uint64_t value = 0;
  for (size_t i = bytes + 6; i < listing.size() && listing[i] >= '0' && listing[i] <= '9'; ++i)
    value = value * 10 + static_cast<uint64_t>(listing[i] - '0');
  return value;
}
