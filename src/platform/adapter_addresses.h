// Hardware addresses of the machine's IPv4 adapters: interfaces that hold an IPv4 address,
// loopback excluded, in interface index order. An interface without a hardware address gives
// six zero bytes. Reads the kernel's interface list; thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

using HardwareAddress = std::array<uint8_t, 6>;

[[nodiscard]] std::vector<HardwareAddress> ListIpv4AdapterHardwareAddresses();
