// The names and numbers one user's component uses in the machine's shared tables. Each user's
// component runs on its own; these keep their rules, routes and groups apart. Pure; thread-safe.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

inline constexpr uint32_t kLauncherGroup = 0xffff;

struct UserKeys {
  uid_t uid = 0;
  // Packet mark of the user's caught packets, and the number of the routing table those
  // packets look up (the same value: one of each per user).
  uint32_t mark = 0;
  // Packet mark of the relay's packets to the user's programs, by which they are counted.
  uint32_t relay_mark = 0;
  // "u<uid>": the user's cgroup directory under "morvil/" and the suffix of its chains.
  std::string name;
};

// Users whose ids are equal in the low 16 bits share marks; the component refuses to start
// for a second one (see nft_script.h).
[[nodiscard]] UserKeys KeysForUser(uid_t uid);
