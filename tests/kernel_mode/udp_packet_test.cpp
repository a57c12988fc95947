// Packets the relay hands to a raw socket: headers as the receiving kernel checks them.
#include "kernel_mode/udp_packet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

sockaddr_storage Address(const char* ip, uint16_t port) {
  sockaddr_storage out{};
  if (inet_pton(AF_INET, ip, &reinterpret_cast<sockaddr_in&>(out).sin_addr) == 1) {
    out.ss_family = AF_INET;
    reinterpret_cast<sockaddr_in&>(out).sin_port = htons(port);
  } else {
    EXPECT_EQ(inet_pton(AF_INET6, ip, &reinterpret_cast<sockaddr_in6&>(out).sin6_addr), 1);
    out.ss_family = AF_INET6;
    reinterpret_cast<sockaddr_in6&>(out).sin6_port = htons(port);
  }
  return out;
}

const sockaddr* Sa(const sockaddr_storage& s) {
  return reinterpret_cast<const sockaddr*>(&s);
}

// The one's-complement sum over the pseudo-header and the UDP part: 0xffff when the checksum
// is right.
uint32_t Verify(const std::vector<uint8_t>& packet, size_t ip_header, size_t address_at,
                size_t address_size) {
  uint32_t sum = 0;
  auto add = [&](const uint8_t* p, size_t n) {
    for (size_t i = 0; i + 1 < n; i += 2) sum += (p[i] << 8) | p[i + 1];
    if (n % 2) sum += p[n - 1] << 8;
  };
  add(&packet[address_at], 2 * address_size);
  size_t udp_length = packet.size() - ip_header;
  sum += 17 + static_cast<uint32_t>(udp_length);
  add(&packet[ip_header], udp_length);
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return sum;
}

TEST(UdpPacketTest, Ipv4PacketCarriesPortsLengthAndAValidChecksum) {
  sockaddr_storage from = Address("192.0.2.10", 7777), to = Address("192.0.2.10", 40000);
  const std::vector<uint8_t> payload = {'e', 'c', 'h', 'o', '!'};  // odd length
  std::vector<uint8_t> packet = BuildUdpPacket(Sa(from), Sa(to), payload);
  ASSERT_EQ(packet.size(), 20u + 8u + payload.size());
  EXPECT_EQ(packet[0], 0x45);
  EXPECT_EQ(packet[9], 17);
  EXPECT_EQ((packet[20] << 8) | packet[21], 7777);
  EXPECT_EQ((packet[22] << 8) | packet[23], 40000);
  EXPECT_EQ((packet[24] << 8) | packet[25], 8 + static_cast<int>(payload.size()));
  EXPECT_EQ(Verify(packet, 20, 12, 4), 0xffffu);
  EXPECT_EQ(std::vector<uint8_t>(packet.end() - 5, packet.end()), payload);
}

TEST(UdpPacketTest, Ipv6PacketHasTheMandatoryChecksum) {
  sockaddr_storage from = Address("2001:db8::10", 53000), to = Address("2001:db8::1", 1234);
  const std::vector<uint8_t> payload(1000, 0xab);
  std::vector<uint8_t> packet = BuildUdpPacket(Sa(from), Sa(to), payload);
  ASSERT_EQ(packet.size(), 40u + 8u + payload.size());
  EXPECT_EQ(packet[0] >> 4, 6);
  EXPECT_EQ((packet[4] << 8) | packet[5], 1008);
  EXPECT_EQ(packet[6], 17);
  EXPECT_NE((packet[46] << 8) | packet[47], 0);
  EXPECT_EQ(Verify(packet, 40, 8, 16), 0xffffu);
}

TEST(UdpPacketTest, MixedFamiliesOrOversizedPayloadBuildNothing) {
  sockaddr_storage v4 = Address("192.0.2.10", 1), v6 = Address("2001:db8::1", 1);
  EXPECT_TRUE(BuildUdpPacket(Sa(v4), Sa(v6), std::vector<uint8_t>(4)).empty());
  EXPECT_TRUE(BuildUdpPacket(Sa(v4), Sa(v4), std::vector<uint8_t>(65535 - 28 + 1)).empty());
  EXPECT_FALSE(BuildUdpPacket(Sa(v4), Sa(v4), std::vector<uint8_t>(65535 - 28)).empty());
}

}  // namespace
