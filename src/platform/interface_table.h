// The machine's IPv4 adapters and their byte counters. Adapters are the interfaces that hold an
// IPv4 address, loopback excluded, in interface index order (getifaddrs). Counters are the low
// 32 bits of the kernel's per-interface byte counts, read from sysfs, so they wrap after 4 GiB as
// the platform's interface table does. Short local reads; thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/result.h"

struct NetworkAdapter {
  unsigned index = 0;
  std::string name;
};

// The adapter list; fails only when the kernel's interface list cannot be read.
[[nodiscard]] Result<std::vector<NetworkAdapter>> ListIpv4Adapters();

struct InterfaceByteCounters {
  uint32_t received = 0;
  uint32_t sent = 0;
};

// Reads NAME/statistics/rx_bytes and tx_bytes below a sysfs network root ("/sys/class/net" for
// the real system; tests point it at a directory of their own). Fails when either file is missing
// or does not start with a decimal number.
class InterfaceCounterReader {
 public:
  explicit InterfaceCounterReader(std::filesystem::path root = "/sys/class/net")
      : root_(std::move(root)) {}

  [[nodiscard]] Result<InterfaceByteCounters> Read(const std::string& interface_name) const;

 private:
  std::filesystem::path root_;
};
