// SOCKS5 messages as a proxy sees them on the wire, and replies as proxies send them.
#include "lsp/socks5.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

sockaddr_storage Address(const char* ip, uint16_t port) {
  sockaddr_storage out{};
  if (std::strchr(ip, ':')) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET6, ip, &in6->sin6_addr), 1);
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&out);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET, ip, &in4->sin_addr), 1);
  }
  return out;
}

const sockaddr* Sa(const sockaddr_storage& s) {
  return reinterpret_cast<const sockaddr*>(&s);
}

std::vector<uint8_t> Bytes(std::span<const uint8_t> b, size_t n) {
  return {b.begin(), b.begin() + static_cast<ptrdiff_t>(n)};
}

TEST(Socks5Test, ClientMessagesAreByteExact) {
  uint8_t out[600];
  ASSERT_EQ(socks5::BuildGreeting(out, true), 4u);
  EXPECT_EQ(Bytes(out, 4), (std::vector<uint8_t>{5, 2, 2, 0}));
  ASSERT_EQ(socks5::BuildGreeting(out, false), 3u);
  EXPECT_EQ(Bytes(out, 3), (std::vector<uint8_t>{5, 1, 0}));

  ASSERT_EQ(socks5::BuildAuthRequest(out, "ab", "xyz"), 8u);
  EXPECT_EQ(Bytes(out, 8), (std::vector<uint8_t>{1, 2, 'a', 'b', 3, 'x', 'y', 'z'}));

  sockaddr_storage v4 = Address("10.1.2.3", 443);
  ASSERT_EQ(socks5::BuildRequest(out, socks5::kCommandConnect, Sa(v4)), 10u);
  EXPECT_EQ(Bytes(out, 10), (std::vector<uint8_t>{5, 1, 0, 1, 10, 1, 2, 3, 1, 187}));

  sockaddr_storage v6 = Address("2001:db8::1", 53);
  ASSERT_EQ(socks5::BuildRequest(out, socks5::kCommandUdpAssociate, Sa(v6)), 22u);
  EXPECT_EQ(out[1], 3);
  EXPECT_EQ(out[3], 4);
  EXPECT_EQ(out[4], 0x20);
  EXPECT_EQ(out[19], 1);
  EXPECT_EQ(out[21], 53);
}

TEST(Socks5Test, RefusesWhatCannotBeSent) {
  uint8_t out[600];
  std::string long_name(256, 'u');
  EXPECT_EQ(socks5::BuildAuthRequest(out, long_name, "p"), 0u);
  EXPECT_EQ(socks5::BuildAuthRequest(out, "", "p"), 0u);
  EXPECT_EQ(socks5::BuildAuthRequest(std::span(out, 5), "user", "pass"), 0u);
  EXPECT_EQ(socks5::BuildAuthRequest(out, std::string(255, 'u'), std::string(255, 'p')), 513u);
  sockaddr unix_address{};
  unix_address.sa_family = AF_UNIX;
  EXPECT_EQ(socks5::BuildRequest(out, 1, &unix_address), 0u);
  sockaddr_storage v4 = Address("1.2.3.4", 1);
  EXPECT_EQ(socks5::BuildRequest(std::span(out, 9), 1, Sa(v4)), 0u);
}

TEST(Socks5Test, MethodAndAuthAnswers) {
  const uint8_t chose_password[] = {5, 2}, no_method[] = {5, 0xff}, chose_none[] = {5, 0};
  uint8_t chosen = 0xbd;
  EXPECT_EQ(socks5::ParseMethodChoice(chose_password, true, &chosen), socks5::Parse::kOk);
  EXPECT_EQ(chosen, 2);
  EXPECT_EQ(socks5::ParseMethodChoice(chose_none, true, &chosen), socks5::Parse::kOk);
  EXPECT_EQ(chosen, 0);
  EXPECT_EQ(socks5::ParseMethodChoice(chose_none, false, &chosen), socks5::Parse::kOk);
  // A server that picks username/password without a token was not offered it: refused.
  chosen = 0xbd;
  EXPECT_EQ(socks5::ParseMethodChoice(chose_password, false, &chosen), socks5::Parse::kMalformed);
  EXPECT_EQ(socks5::ParseMethodChoice(no_method, true, &chosen), socks5::Parse::kMalformed);
  EXPECT_EQ(chosen, 0xbd);
  EXPECT_EQ(socks5::ParseMethodChoice(std::span(chose_password, 1)), socks5::Parse::kIncomplete);
  const uint8_t ok[] = {1, 0}, denied[] = {1, 1};
  EXPECT_EQ(socks5::ParseAuthStatus(ok), socks5::Parse::kOk);
  EXPECT_EQ(socks5::ParseAuthStatus(denied), socks5::Parse::kMalformed);
}

TEST(Socks5Test, RepliesOfEveryAddressType) {
  const uint8_t v4[] = {5, 0, 0, 1, 127, 0, 0, 1, 0x1f, 0x90};
  const uint8_t v6[] = {5, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 80};
  const uint8_t name[] = {5, 0, 0, 3, 3, 'a', '.', 'b', 0, 1};
  const uint8_t refused[] = {5, 5, 0, 1, 0, 0, 0, 0, 0, 0};
  socks5::Reply reply;
  ASSERT_EQ(socks5::ParseReply(v4, reply), socks5::Parse::kOk);
  EXPECT_EQ(reply.size, 10u);
  EXPECT_EQ(reply.code, socks5::kReplySucceeded);
  EXPECT_EQ(reinterpret_cast<sockaddr_in&>(reply.bound).sin_port, htons(8080));
  ASSERT_EQ(socks5::ParseReply(v6, reply), socks5::Parse::kOk);
  EXPECT_EQ(reply.bound.ss_family, AF_INET6);
  ASSERT_EQ(socks5::ParseReply(name, reply), socks5::Parse::kOk);
  EXPECT_EQ(reply.size, 10u);
  EXPECT_EQ(reply.bound.ss_family, AF_UNSPEC);
  ASSERT_EQ(socks5::ParseReply(refused, reply), socks5::Parse::kOk);
  EXPECT_EQ(reply.code, 5);

  EXPECT_EQ(socks5::ExpectedReplySize(v4), 10u);
  EXPECT_EQ(socks5::ExpectedReplySize(v6), 22u);
  EXPECT_EQ(socks5::ExpectedReplySize(name), 10u);
  for (size_t n = 0; n < sizeof v6; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(socks5::ParseReply(std::span(v6, n), reply), socks5::Parse::kIncomplete);
  }
  const uint8_t bad_type[] = {5, 0, 0, 9, 0, 0, 0, 0, 0, 0};
  const uint8_t bad_version[] = {4, 0, 0, 1, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(socks5::ParseReply(bad_type, reply), socks5::Parse::kMalformed);
  EXPECT_EQ(socks5::ParseReply(bad_version, reply), socks5::Parse::kMalformed);
  EXPECT_EQ(socks5::ExpectedReplySize(bad_type), 0u);
}

TEST(Socks5Test, UdpHeaderRoundTripsAndFragmentsAreRefused) {
  for (const char* ip : {"192.0.2.7", "2001:db8::7"}) {
    SCOPED_TRACE(ip);
    sockaddr_storage peer = Address(ip, 27015);
    uint8_t datagram[64];
    size_t size = socks5::BuildUdpHeader(datagram, Sa(peer));
    ASSERT_NE(size, 0u);
    std::memcpy(datagram + size, "hi", 2);
    socks5::UdpHeader header;
    ASSERT_EQ(socks5::ParseUdpHeader(std::span(datagram, size + 2), header), socks5::Parse::kOk);
    EXPECT_EQ(header.size, size);
    EXPECT_EQ(std::memcmp(&header.source, &peer, sizeof(sockaddr_in)), 0);
    datagram[2] = 1;  // fragment number
    EXPECT_EQ(socks5::ParseUdpHeader(std::span(datagram, size + 2), header),
              socks5::Parse::kMalformed);
  }
  const uint8_t cut[] = {0, 0, 0, 1, 1, 2};
  socks5::UdpHeader header;
  EXPECT_EQ(socks5::ParseUdpHeader(cut, header), socks5::Parse::kMalformed);
}

}  // namespace
