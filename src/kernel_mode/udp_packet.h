// A whole IPv4 or IPv6 UDP packet, headers and checksums included, for a raw socket: the relay
// sends a caught program the answers of its peer from the peer's own address and port, which no
// bound socket could do when the peer's address is one of this machine's. Pure; thread-safe.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <span>
#include <vector>

// The packet from `source` to `destination` (same family) carrying `payload`; empty when the
// families differ or the payload is too long for one datagram.
[[nodiscard]] std::vector<uint8_t> BuildUdpPacket(const sockaddr* source,
                                                  const sockaddr* destination,
                                                  std::span<const uint8_t> payload);
