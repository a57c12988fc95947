#include "lsp/socks5.h"

#include <netinet/in.h>

#include <cstring>

namespace socks5 {

constexpr uint8_t kAddressIpv4 = 1;
constexpr uint8_t kAddressDomain = 3;
constexpr uint8_t kAddressIpv6 = 4;

namespace {

// Writes the ATYP/ADDR/PORT block; 0 when the family is not IP or `out` is too small.
size_t PutAddress(std::span<uint8_t> out, const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    if (out.size() < 7) return 0;
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(address);
    out[0] = kAddressIpv4;
    std::memcpy(&out[1], &in4->sin_addr, 4);
    std::memcpy(&out[5], &in4->sin_port, 2);
    return 7;
  }
  if (address->sa_family == AF_INET6) {
    if (out.size() < 19) return 0;
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    out[0] = kAddressIpv6;
    std::memcpy(&out[1], &in6->sin6_addr, 16);
    std::memcpy(&out[17], &in6->sin6_port, 2);
    return 19;
  }
  return 0;
}

// Reads an ATYP/ADDR/PORT block; its size, 0 when more bytes are needed, SIZE_MAX when bad.
size_t GetAddress(std::span<const uint8_t> in, sockaddr_storage& address) {
  std::memset(&address, 0, sizeof address);
  if (in.empty()) return 0;
  switch (in[0]) {
    case kAddressIpv4: {
      if (in.size() < 7) return 0;
      auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
      in4->sin_family = AF_INET;
      std::memcpy(&in4->sin_addr, &in[1], 4);
      std::memcpy(&in4->sin_port, &in[5], 2);
      return 7;
    }
    case kAddressIpv6: {
      if (in.size() < 19) return 0;
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
      in6->sin6_family = AF_INET6;
      std::memcpy(&in6->sin6_addr, &in[1], 16);
      std::memcpy(&in6->sin6_port, &in[17], 2);
      return 19;
    }
    case kAddressDomain: {
      if (in.size() < 2) return 0;
      size_t size = 2 + in[1] + 2;
      return in.size() < size ? 0 : size;  // the family stays AF_UNSPEC
    }
    default:
      return SIZE_MAX;
  }
}

}  // namespace

size_t BuildGreeting(std::span<uint8_t> out, bool offer_user_password) {
  const size_t size = offer_user_password ? 4 : 3;
  if (out.size() < size) return 0;
  out[0] = kVersion;
  out[1] = static_cast<uint8_t>(size - 2);
  if (offer_user_password) out[2] = kMethodUserPassword;
  out[size - 1] = kMethodNoAuthentication;
  return size;
}

size_t BuildAuthRequest(std::span<uint8_t> out, std::string_view user, std::string_view password) {
  if (user.empty() || password.empty() || user.size() > 255 || password.size() > 255) return 0;
  size_t size = 3 + user.size() + password.size();
  if (out.size() < size) return 0;
  out[0] = 1;
  out[1] = static_cast<uint8_t>(user.size());
  std::memcpy(&out[2], user.data(), user.size());
  out[2 + user.size()] = static_cast<uint8_t>(password.size());
  std::memcpy(&out[3 + user.size()], password.data(), password.size());
  return size;
}

size_t BuildRequest(std::span<uint8_t> out, uint8_t command, const sockaddr* address) {
  if (out.size() < 3) return 0;
  size_t block = PutAddress(out.subspan(3), address);
  if (block == 0) return 0;
  out[0] = kVersion;
  out[1] = command;
  out[2] = 0;
  return 3 + block;
}

Parse ParseMethodChoice(std::span<const uint8_t> in, bool offered_user_password, uint8_t* chosen) {
  if (in.size() < 2) return Parse::kIncomplete;
  const bool offered =
      in[1] == kMethodNoAuthentication || (offered_user_password && in[1] == kMethodUserPassword);
  if (in[0] != kVersion || !offered) return Parse::kMalformed;
  if (chosen) *chosen = in[1];
  return Parse::kOk;
}

Parse ParseAuthStatus(std::span<const uint8_t> in) {
  if (in.size() < 2) return Parse::kIncomplete;
  return in[0] == 1 && in[1] == 0 ? Parse::kOk : Parse::kMalformed;
}

Parse ParseReply(std::span<const uint8_t> in, Reply& reply) {
  if (in.size() < 4) return Parse::kIncomplete;
  if (in[0] != kVersion || in[2] != 0) return Parse::kMalformed;
  size_t block = GetAddress(in.subspan(3), reply.bound);
  if (block == SIZE_MAX) return Parse::kMalformed;
  if (block == 0) return Parse::kIncomplete;
  reply.code = in[1];
  reply.size = 3 + block;
  return Parse::kOk;
}

size_t BuildUdpHeader(std::span<uint8_t> out, const sockaddr* address) {
  if (out.size() < 3) return 0;
  size_t block = PutAddress(out.subspan(3), address);
  if (block == 0) return 0;
  out[0] = out[1] = out[2] = 0;
  return 3 + block;
}

Parse ParseUdpHeader(std::span<const uint8_t> in, UdpHeader& header) {
  // Reassembly of fragments is optional; fragmented datagrams are dropped.
  if (in.size() < 4 || in[0] != 0 || in[1] != 0 || in[2] != 0) return Parse::kMalformed;
  size_t block = GetAddress(in.subspan(3), header.source);
  if (block == 0 || block == SIZE_MAX) return Parse::kMalformed;
  header.size = 3 + block;
  return Parse::kOk;
}

}  // namespace socks5

namespace socks5 {

size_t ExpectedReplySize(std::span<const uint8_t> in) {
  if (in.size() < 5 || in[0] != kVersion) return 0;
  switch (in[3]) {
    case kAddressIpv4:
      return 10;
    case kAddressIpv6:
      return 22;
    case kAddressDomain:
      return 7 + in[4];
    default:
      return 0;
  }
}

}  // namespace socks5
