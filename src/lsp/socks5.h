// SOCKS version 5 messages (RFC 1928) with username/password authentication (RFC 1929), built
// into and parsed from caller-owned buffers. Pure functions: no allocation, no system calls, no
// exceptions, so the preload library can use them in any process. Thread-safe.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace socks5 {

inline constexpr uint8_t kVersion = 5;
inline constexpr uint8_t kMethodNoAuthentication = 0;
inline constexpr uint8_t kMethodUserPassword = 2;
inline constexpr uint8_t kMethodNoneAcceptable = 0xff;
inline constexpr uint8_t kCommandConnect = 1;
inline constexpr uint8_t kCommandUdpAssociate = 3;
inline constexpr uint8_t kReplySucceeded = 0;
// Longest address block: type byte, length byte, 255 name bytes, port.
inline constexpr size_t kMaxAddressSize = 1 + 1 + 255 + 2;
inline constexpr size_t kMaxReplySize = 3 + kMaxAddressSize;
inline constexpr size_t kMaxUdpHeaderSize = 3 + kMaxAddressSize;

// The method selection message: with `offer_user_password` it offers username/password and no
// authentication (05 02 02 00), else no authentication only (05 01 00).
[[nodiscard]] size_t BuildGreeting(std::span<uint8_t> out, bool offer_user_password);

// The username/password request (sub-negotiation version 1); 0 when a field is empty or longer
// than 255 bytes or `out` is too small.
[[nodiscard]] size_t BuildAuthRequest(std::span<uint8_t> out, std::string_view user,
                                      std::string_view password);

// A request with `command` for an IPv4 or IPv6 `address`; 0 for another family or a small `out`.
[[nodiscard]] size_t BuildRequest(std::span<uint8_t> out, uint8_t command, const sockaddr* address);

enum class Parse { kIncomplete, kOk, kMalformed };

// The server's method choice (2 bytes); kOk only when it chose a method that was offered (no
// authentication, or username/password when `offered_user_password`), stored in `chosen`.
[[nodiscard]] Parse ParseMethodChoice(std::span<const uint8_t> in,
                                      bool offered_user_password = true, uint8_t* chosen = nullptr);
// The authentication status (2 bytes); kOk only for status 0.
[[nodiscard]] Parse ParseAuthStatus(std::span<const uint8_t> in);

struct Reply {
  uint8_t code = 0xff;       // REP field; kReplySucceeded on success
  sockaddr_storage bound{};  // BND.ADDR/BND.PORT; AF_UNSPEC when given as a domain name
  size_t size = 0;           // bytes the reply occupies
};
// A reply to a request. kIncomplete when more bytes are needed (read until it is not).
[[nodiscard]] Parse ParseReply(std::span<const uint8_t> in, Reply& reply);

// The header that precedes each datagram relayed through a UDP association, for `address`;
// 0 for another family or a small `out`.
[[nodiscard]] size_t BuildUdpHeader(std::span<uint8_t> out, const sockaddr* address);

struct UdpHeader {
  sockaddr_storage source{};  // AF_UNSPEC when given as a domain name
  size_t size = 0;            // bytes before the payload
};
// The header of a relayed datagram. kMalformed for a short or fragmented datagram.
[[nodiscard]] Parse ParseUdpHeader(std::span<const uint8_t> in, UdpHeader& header);

}  // namespace socks5

namespace socks5 {
// The whole size of a reply from its first five bytes (ATYP and the first address byte known);
// 0 when they do not start a valid reply.
[[nodiscard]] size_t ExpectedReplySize(std::span<const uint8_t> first_five);
}  // namespace socks5
