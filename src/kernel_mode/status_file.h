// The status file the component keeps for the backend service: what runs and what went
// through the proxy, replaced whole at least once a second. Lines:
//   mode kernel
//   component <pid>
//   updated <unix time>
//   cgroup <the user's cgroup directory>
//   proxy <host> <port>                                   (while acceleration is on)
//   program <pid> <bytes up> <bytes down> <path asked>    (one per accelerated process)
//   udp-dropped <waiting> <unassociated> <sending> <answering>   (once the relay dropped one;
//                                                         the reasons of UdpDrops in relay.h)
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

struct ProgramStatus {
  pid_t pid = 0;
  uint64_t up = 0, down = 0;
  std::string path;
};

struct ComponentStatus {
  pid_t component = 0;
  time_t updated = 0;
  std::string cgroup;
  std::optional<std::string> proxy_host;
  uint16_t proxy_port = 0;
  std::vector<ProgramStatus> programs;
  std::array<uint64_t, 4> udp_dropped{};  // datagrams the relay dropped, by reason
};

// The file's text. Control characters in paths and names (which the user controls) become '?',
// so that every record stays on its own line.
[[nodiscard]] std::string FormatStatus(const ComponentStatus& status);

// Writes `text` to `file` through a temporary file beside it, which is removed when that fails.
// Mode 0600: the file names the user's programs, which are nobody else's business (the backend
// service reads it as root).
[[nodiscard]] Result<void> ReplaceFile(const std::filesystem::path& file, const std::string& text);
