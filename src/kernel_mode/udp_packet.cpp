#include "kernel_mode/udp_packet.h"

#include <netinet/in.h>

#include <cstring>

namespace {

constexpr uint8_t kUdp = 17;
constexpr size_t kUdpHeader = 8;

uint32_t Sum(uint32_t sum, std::span<const uint8_t> bytes) {
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) sum += (bytes[i] << 8) | bytes[i + 1];
  if (bytes.size() % 2) sum += bytes.back() << 8;
  return sum;
}

uint16_t Fold(uint32_t sum) {
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  uint16_t result = static_cast<uint16_t>(~sum);
  return result == 0 ? 0xffff : result;  // 0 would mean "no checksum"
}

void Put16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

}  // namespace

std::vector<uint8_t> BuildUdpPacket(const sockaddr* source, const sockaddr* destination,
                                    std::span<const uint8_t> payload) {
  if (source->sa_family != destination->sa_family) return {};
  const bool v4 = source->sa_family == AF_INET;
  if (!v4 && source->sa_family != AF_INET6) return {};
  const size_t ip_header = v4 ? 20 : 40;
  const size_t udp_length = kUdpHeader + payload.size();
  if (udp_length + (v4 ? ip_header : 0) > 65535) return {};
  std::vector<uint8_t> packet(ip_header + udp_length, 0);
  uint8_t* ip = packet.data();
  uint8_t* udp = ip + ip_header;
  std::span<const uint8_t> source_address, destination_address;
  if (v4) {
    const auto* s = reinterpret_cast<const sockaddr_in*>(source);
    const auto* d = reinterpret_cast<const sockaddr_in*>(destination);
    ip[0] = 0x45;
    ip[8] = 64;
    ip[9] = kUdp;
    std::memcpy(ip + 12, &s->sin_addr, 4);
    std::memcpy(ip + 16, &d->sin_addr, 4);
    // The header checksum, total length and identification are filled in by the kernel.
    std::memcpy(udp, &s->sin_port, 2);
    std::memcpy(udp + 2, &d->sin_port, 2);
    source_address = {ip + 12, 4};
    destination_address = {ip + 16, 4};
  } else {
    const auto* s = reinterpret_cast<const sockaddr_in6*>(source);
    const auto* d = reinterpret_cast<const sockaddr_in6*>(destination);
    ip[0] = 0x60;
    Put16(ip + 4, static_cast<uint16_t>(udp_length));
    ip[6] = kUdp;
    ip[7] = 64;
    std::memcpy(ip + 8, &s->sin6_addr, 16);
    std::memcpy(ip + 24, &d->sin6_addr, 16);
    std::memcpy(udp, &s->sin6_port, 2);
    std::memcpy(udp + 2, &d->sin6_port, 2);
    source_address = {ip + 8, 16};
    destination_address = {ip + 24, 16};
  }
  Put16(udp + 4, static_cast<uint16_t>(udp_length));
  std::memcpy(udp + kUdpHeader, payload.data(), payload.size());
  // The checksum covers a pseudo-header of both addresses, the protocol and the UDP length.
  uint32_t sum = Sum(0, source_address);
  sum = Sum(sum, destination_address);
  sum +=
      kUdp + static_cast<uint32_t>(udp_length & 0xffff) + static_cast<uint32_t>(udp_length >> 16);
  sum = Sum(sum, {udp, udp_length});
  Put16(udp + 6, Fold(sum));
  return packet;
}
