// Which destinations an accelerated program reaches directly, and the address conversions used
// to reach an IPv4 proxy from an IPv6 socket.
#include "lsp/destination.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

sockaddr_storage Address(const char* ip, uint16_t port = 80) {
  sockaddr_storage out{};
  if (std::strchr(ip, ':')) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET6, ip, &in6->sin6_addr), 1) << ip;
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&out);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET, ip, &in4->sin_addr), 1) << ip;
  }
  return out;
}

const sockaddr* Sa(const sockaddr_storage& s) {
  return reinterpret_cast<const sockaddr*>(&s);
}

TEST(DestinationTest, LocalAndRemoteAddresses) {
  struct Row {
    const char* ip;
    bool direct;
  } rows[] = {
      {"127.0.0.1", true},        {"127.8.9.10", true},      {"::1", true},
      {"::ffff:127.0.0.1", true}, {"0.0.0.0", true},         {"::", true},
      {"169.254.1.1", true},      {"fe80::1", true},         {"224.0.0.251", true},
      {"ff02::1", true},          {"255.255.255.255", true}, {"8.8.8.8", false},
      {"10.0.0.1", false},        {"192.168.1.1", false},    {"2001:db8::1", false},
      {"::ffff:8.8.8.8", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ip);
    sockaddr_storage address = Address(row.ip);
    EXPECT_EQ(IsDirectDestination(Sa(address), false), row.direct);
  }
  // Tests send loopback through the proxy too; the rest stays as it was.
  EXPECT_FALSE(IsDirectDestination(Sa(Address("127.0.0.1")), true));
  EXPECT_FALSE(IsDirectDestination(Sa(Address("::1")), true));
  EXPECT_TRUE(IsDirectDestination(Sa(Address("169.254.1.1")), true));
  sockaddr unix_address{};
  unix_address.sa_family = AF_UNIX;
  EXPECT_TRUE(IsDirectDestination(&unix_address, false));
}

TEST(DestinationTest, SameEndpointSeesThroughIpv4Mapping) {
  EXPECT_TRUE(SameEndpoint(Sa(Address("10.0.0.1", 1080)), Sa(Address("::ffff:10.0.0.1", 1080))));
  EXPECT_FALSE(SameEndpoint(Sa(Address("10.0.0.1", 1080)), Sa(Address("10.0.0.1", 1081))));
  EXPECT_FALSE(SameEndpoint(Sa(Address("10.0.0.1", 1080)), Sa(Address("10.0.0.2", 1080))));
  EXPECT_TRUE(SameEndpoint(Sa(Address("2001:db8::1", 9)), Sa(Address("2001:db8::1", 9))));
}

TEST(DestinationTest, ConvertsBetweenFamiliesWhereItCan) {
  sockaddr_storage out;
  socklen_t length = 0;
  ASSERT_TRUE(ConvertToFamily(Sa(Address("10.0.0.1", 1080)), AF_INET6, out, length));
  EXPECT_EQ(length, sizeof(sockaddr_in6));
  EXPECT_TRUE(SameEndpoint(Sa(out), Sa(Address("::ffff:10.0.0.1", 1080))));
  ASSERT_TRUE(ConvertToFamily(Sa(Address("::ffff:10.0.0.1", 7)), AF_INET, out, length));
  EXPECT_EQ(out.ss_family, AF_INET);
  EXPECT_EQ(length, sizeof(sockaddr_in));
  EXPECT_FALSE(ConvertToFamily(Sa(Address("2001:db8::1")), AF_INET, out, length));
}

}  // namespace
