// The SOCKS5 handshake the relay runs with the proxy for one caught connection or UDP
// association, as bytes in and out, so that it runs on a non-blocking socket: the greeting, the
// username/password request (the token as both; no authentication offered when the token is
// empty) and the command are sent at once, and the answers are taken in the exact sizes they
// have, so that no byte from the destination is consumed. Pure; not thread-safe.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

class SocksHandshake {
 public:
  // `command`: socks5::kCommandConnect or kCommandUdpAssociate, for `target`.
  SocksHandshake(uint8_t command, const sockaddr* target, std::string_view token);

  // The bytes to send first; empty when the target or token cannot be expressed.
  [[nodiscard]] const std::vector<uint8_t>& request() const { return request_; }

  // How many more bytes to read before Feed can decide; 0 once done or failed.
  [[nodiscard]] size_t wanted() const;
  enum class State { kRunning, kSucceeded, kRefused };
  // Takes bytes read (at most `wanted()`).
  State Feed(std::span<const uint8_t> bytes);
  [[nodiscard]] State state() const { return state_; }
  // The proxy's bound address once kSucceeded (AF_UNSPEC when it gave a name).
  [[nodiscard]] const sockaddr_storage& bound() const { return bound_; }

 private:
  enum class Step { kMethod, kAuth, kReplyHead, kReplyRest, kDone };
  std::vector<uint8_t> request_;
  bool with_token_;
  Step step_ = Step::kMethod;
  State state_ = State::kRunning;
  std::vector<uint8_t> in_;
  size_t need_ = 2;
  sockaddr_storage bound_{};
};
