// The nftables commands of one user's component, as text for libnftables. Pure; thread-safe.
//
// One table `inet morvil` holds every user's chains. Per user:
//   output_u<uid>   (route hook output): packets of connections caught before keep the user's
//                   packet mark, which makes the kernel route the packet again, now by the user's
//                   routing table: to this machine, over loopback. Sockets of the user's cgroup
//                   go on to catch_u<uid>; every other socket leaves after a few tests.
//   catch_u<uid>    new connections of the user's programs get the mark too, except to
//                   destinations that never leave the machine or its link, name resolution
//                   (port 53) and the proxy. Each program group counts the bytes its sockets send.
//   prerouting_u<uid> (prerouting): marked packets are handed to the relay's listeners (TPROXY);
//                   a marked packet that no listener takes is dropped, never delivered directly.
//                   Packets coming back on caught connections are counted per group.
// Counters are named objects, so they live on while rules are replaced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel_mode/user_keys.h"

struct RelayPorts {
  uint16_t tcp4 = 0, udp4 = 0, tcp6 = 0, udp6 = 0;
};

struct CatchPlan {
  RelayPorts ports;
  // Program groups (1..kLauncherGroup-1) whose cgroups exist, under "morvil/u<uid>/g<N>".
  std::vector<uint32_t> groups;
  // Whether acceleration is on: without it nothing is caught.
  bool catching = false;
  // Whether the processes in the user's cgroup itself (started by the launcher) are caught too.
  bool launcher = false;
  // The proxy cannot be reached: caught connections are refused at once (TCP reset, or
  // ICMP port unreachable for UDP) rather than accepted and then dropped.
  bool proxy_down = false;
  // Literal addresses of the proxy server, never caught.
  std::vector<std::string> proxy_ipv4, proxy_ipv6;
};

// The user's cgroup relative to the cgroup2 root: "morvil/u<uid>"; groups below it "g<N>".
[[nodiscard]] std::string UserCgroup(const UserKeys& keys);
[[nodiscard]] std::string GroupCgroup(const UserKeys& keys, uint32_t group);

// The names of a group's byte counters ("u<uid>_g<N>_up" / "_down"; the launcher group is "_gl").
[[nodiscard]] std::string CounterName(const UserKeys& keys, uint32_t group, bool up);

// Creates (if needed) the table, the user's chains and the counters of `plan.groups` and of the
// launcher group, then replaces the user's rules by those of `plan`, and deletes the counters of
// `dropped_groups`. One transaction.
[[nodiscard]] std::string ApplyScript(const UserKeys& keys, const CatchPlan& plan,
                                      const std::vector<uint32_t>& dropped_groups);

// Deletes the user's three chains and the counters of `groups` and of the launcher group. The table
// itself stays (other users may have chains in it): see EmptyTableScript.
[[nodiscard]] std::string RemovalScript(const UserKeys& keys, const std::vector<uint32_t>& groups);

// Lists the table (to find other users' chains, and the counters).
[[nodiscard]] std::string ListTableScript();
[[nodiscard]] std::string DeleteTableScript();

// The user ids that own chains in a listing of the table.
[[nodiscard]] std::vector<uint32_t> ChainOwners(const std::string& listing);

// Bytes counted by the counter `name` in a listing of the table; 0 when absent.
[[nodiscard]] uint64_t CounterBytes(const std::string& listing, const std::string& name);
