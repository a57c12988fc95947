#include "kernel_mode/nft_script.h"

#include <cinttypes>
#include <cstdio>
#include <span>

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

std::string ChainName(const char* kind, const UserKeys& keys) {
  return std::string(kind) + "_" + keys.name;
}

std::string Chain(const char* kind, const UserKeys& keys) {
  return std::string(kTable) + " " + ChainName(kind, keys);
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

namespace {

// The chains of a user: the three hooked ones, then the ones they jump to.
constexpr const char* kAllChains[] = {"output", "input",  "prerouting", "catch",
                                      "new",    "caught", "count",      "received"};
constexpr size_t kHookedChains = 3;  // the first ones; made with their hooks in ApplyScript

// Per address family: the user's set of caught TCP connections, keyed by the tuple as the
// program's socket sees it (its own address and port first), and the set of UDP peers that
// reached one of the user's programs from outside.
struct Family {
  const char* proto;    // for meta nfproto
  const char* ip;       // the payload expression's protocol
  const char* address;  // the set type of an address
  const char* caught;   // set names, before "_u<uid>"
  const char* answers;
};
constexpr Family kFamilies[] = {{"ipv4", "ip", "ipv4_addr", "tcp4", "answers4"},
                                {"ipv6", "ip6", "ipv6_addr", "tcp6", "answers6"}};

// An element of a caught set lives 5 minutes after the program's last packet on its connection
// (the relay's keep-alive probes draw one from an idle connection every minute), 10 seconds
// after the program's FIN or RST. A peer that sent a datagram is remembered for 3 minutes, as
// long as the relay keeps an idle UDP association.
constexpr const char* kCaughtTimeout = "5m";
constexpr const char* kClosingTimeout = "10s";
constexpr const char* kAnswersTimeout = "3m";

std::string TcpTuple(const Family& f) {
  return std::string(f.ip) + " saddr . tcp sport . " + f.ip + " daddr . tcp dport";
}

std::string SetName(const char* kind, const UserKeys& keys) {
  return std::string(kind) + "_" + keys.name;
}

std::string AddSets(const Family& f, const UserKeys& keys) {
  std::string s;
  for (auto [kind, timeout] : {std::pair{f.caught, kCaughtTimeout}, {f.answers, kAnswersTimeout}})
    s += "add set " + std::string(kTable) + " " + SetName(kind, keys) + " { type " + f.address +
         " . inet_service . " + f.address +
         " . inet_service; size 65536; flags dynamic,timeout; "
         "timeout " +
         timeout + "; }\n";
  return s;
}

}  // namespace

std::string ApplyScript(const UserKeys& keys, const CatchPlan& plan,
                        const std::vector<uint32_t>& dropped_groups) {
  const std::string mark = Hex(keys.mark);
  std::string s = "add table " + std::string(kTable) + "\n";
  for (const Family& f : kFamilies) s += AddSets(f, keys);
  s += "add chain " + Chain("output", keys) +
       " { type route hook output priority mangle; policy accept; }\n";
  s += "add chain " + Chain("input", keys) +
       " { type filter hook input priority mangle; policy accept; }\n";
  s += "add chain " + Chain("prerouting", keys) +
       " { type filter hook prerouting priority mangle; policy accept; }\n";
  for (const char* kind : std::span(kAllChains).subspan(kHookedChains))
    s += "add chain " + Chain(kind, keys) + "\n";
  AddCounters(s, keys, plan.groups);
  for (const char* kind : kAllChains) s += "flush chain " + Chain(kind, keys) + "\n";

  auto rule = [&](const char* chain) { return "add rule " + Chain(chain, keys) + " "; };
  auto go = [&](const char* chain) { return std::string("goto ") + ChainName(chain, keys); };
  // The user's programs' sockets (in the user's cgroup or below) are looked at; every other
  // socket of the machine leaves here. The match is positive on purpose: a socket whose cgroup
  // is not that deep makes a `!=` test fail as well.
  s +=
      rule("output") + "socket cgroupv2 level 2 \"" + UserCgroup(keys) + "\" " + go("catch") + "\n";

  // catch: a packet of the user's programs. TCP packets other than a connection's first go on
  // through the relay while their connection is in the set, also after Stop.
  s += rule("catch") + "tcp flags & (syn | ack) != syn " + go("caught") + "\n";
  // Datagrams answering a peer that reached the program from outside (a game hosting) go
  // straight back.
  for (const Family& f : kFamilies)
    s += rule("catch") + f.ip + " saddr . udp sport . " + f.ip + " daddr . udp dport @" +
         SetName(f.answers, keys) + " return\n";
  if (plan.catching) {
    // New connections and datagrams: never caught are destinations that do not leave this
    // machine or its link, name resolution and the proxy itself.
    s += rule("catch") + "meta l4proto != { tcp, udp } return\n";
    s += rule("catch") + "th dport 53 return\n";
    s += rule("catch") +
         "ip daddr { 0.0.0.0/8, 127.0.0.0/8, 169.254.0.0/16, 224.0.0.0/4, 255.255.255.255 } "
         "return\n";
    s += rule("catch") + "ip6 daddr { ::/128, ::1/128, fe80::/10, ff00::/8 } return\n";
    s += rule("catch") + "fib daddr type broadcast return\n";
    if (!plan.proxy_ipv4.empty())
      s += rule("catch") + "ip daddr { " + Join(plan.proxy_ipv4) + " } return\n";
    if (!plan.proxy_ipv6.empty())
      s += rule("catch") + "ip6 daddr { " + Join(plan.proxy_ipv6) + " } return\n";
    for (uint32_t group : plan.groups)
      s += rule("catch") + "socket cgroupv2 level 3 \"" + GroupCgroup(keys, group) + "\" " +
           go("new") + "\n";
    // Last: it matches the program groups' sockets too, which the rules above took already.
    if (plan.launcher)
      s += rule("catch") + "socket cgroupv2 level 2 \"" + UserCgroup(keys) + "\" " + go("new") +
           "\n";

    // new: a caught connection's first packet, or a caught datagram.
    if (plan.proxy_down) {
      s += rule("new") + "meta l4proto tcp reject with tcp reset\n";
      s += rule("new") + "meta l4proto udp reject\n";
    }
    for (const Family& f : kFamilies)
      s += rule("new") + "meta nfproto " + f.proto + " meta l4proto tcp update @" +
           SetName(f.caught, keys) + " { " + TcpTuple(f) + " } " + go("count") + "\n";
    s += rule("new") + "meta l4proto udp " + go("count") + "\n";
    // The set is full: the connection is refused rather than sent directly.
    s += rule("new") + "meta l4proto tcp reject with tcp reset\n";
  }

  // caught: a later packet of a TCP connection; the ones in the set are caught.
  for (const Family& f : kFamilies) {
    const std::string in_set = TcpTuple(f) + " @" + SetName(f.caught, keys) + " update @" +
                               SetName(f.caught, keys) + " { " + TcpTuple(f);
    s += rule("caught") + "tcp flags & (fin | rst) != 0 " + in_set + " timeout " + kClosingTimeout +
         " } " + go("count") + "\n";
    s += rule("caught") + in_set + " } " + go("count") + "\n";
  }

  // count: bytes sent by each program group, then the mark that routes the packet to the relay.
  std::vector<std::pair<uint32_t, std::string>> sockets;  // group, socket match
  for (uint32_t group : plan.groups)
    sockets.emplace_back(group, "socket cgroupv2 level 3 \"" + GroupCgroup(keys, group) + "\" ");
  sockets.emplace_back(kLauncherGroup, "socket cgroupv2 level 2 \"" + UserCgroup(keys) + "\" ");
  for (const auto& [group, socket] : sockets)
    s += rule("count") + socket + "counter name \"" + CounterName(keys, group, true) +
         "\" meta mark set " + mark + " accept\n";
  s += rule("count") + "meta mark set " + mark + " accept\n";

  // input: the relay's packets to the user's programs are counted per group; other datagrams
  // to the user's programs are remembered, so that their answers go straight back.
  s += rule("input") + "meta mark " + Hex(keys.relay_mark) + " " + go("received") + "\n";
  for (const Family& f : kFamilies)
    s += rule("input") + "meta nfproto " + f.proto +
         " meta l4proto udp socket cgroupv2 level 2 \"" + UserCgroup(keys) + "\" update @" +
         SetName(f.answers, keys) + " { " + f.ip + " daddr . udp dport . " + f.ip +
         " saddr . udp sport }\n";
  for (const auto& [group, socket] : sockets)
    s += rule("received") + socket + "counter name \"" + CounterName(keys, group, false) +
         "\" accept\n";

  // prerouting: marked packets go to the relay's listeners.
  const std::string marked = rule("prerouting") + "meta mark " + mark + " ";
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
  // `add` first, so that a chain or set missing (left half made by a crash) does not fail the
  // whole removal; every rule goes before any chain, since chains jump to each other.
  std::string s;
  for (const char* kind : kAllChains) {
    s += "add chain " + Chain(kind, keys) + "\n";
    s += "flush chain " + Chain(kind, keys) + "\n";
  }
  for (const char* kind : kAllChains) s += "delete chain " + Chain(kind, keys) + "\n";
  for (const Family& f : kFamilies) {
    s += AddSets(f, keys);
    for (const char* kind : {f.caught, f.answers})
      s += "delete set " + std::string(kTable) + " " + SetName(kind, keys) + "\n";
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
