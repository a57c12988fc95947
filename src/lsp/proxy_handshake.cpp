#include "lsp/proxy_handshake.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <string_view>

#include "base/monotonic_clock.h"
#include "lsp/real_calls.h"
#include "lsp/socks5.h"

namespace {

// Waits for `events` on `fd`; 0 when ready, else an error.
int WaitFor(int fd, short events, int64_t deadline_ms) {
  for (;;) {
    int64_t left = deadline_ms - NowMs();
    if (left <= 0) return ETIMEDOUT;
    pollfd p{fd, events, 0};
    timespec limit{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000L};
    int n = Real().ppoll(&p, 1, &limit, nullptr);
    if (n > 0) return 0;
    if (n < 0 && errno != EINTR) return errno;
  }
}

int SendAll(int fd, const uint8_t* data, size_t size, int64_t deadline_ms) {
  while (size > 0) {
    ssize_t n = Real().send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return errno;
    if (int e = WaitFor(fd, POLLOUT, deadline_ms)) return e;
  }
  return 0;
}

// Reads exactly `size` bytes; ECONNREFUSED when the proxy closes first.
int ReceiveExactly(int fd, uint8_t* data, size_t size, int64_t deadline_ms) {
  while (size > 0) {
    ssize_t n = Real().recv(fd, data, size, MSG_DONTWAIT);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return ECONNREFUSED;
    if (errno == ECONNRESET) return ECONNREFUSED;
    if (errno != EAGAIN && errno != EINTR) return errno;
    if (int e = WaitFor(fd, POLLIN, deadline_ms)) return e;
  }
  return 0;
}

// What follows the proxy's choice of `method`: the username/password request (the token as both)
// when it chose that, then the request. 0 with `error` set when they cannot be built.
size_t BuildAfterMethod(std::span<uint8_t> out, uint8_t method, std::string_view token,
                        uint8_t command, const sockaddr* target, int& error) {
  size_t size = 0;
  if (method == socks5::kMethodUserPassword) {
    size = socks5::BuildAuthRequest(out, token, token);
    if (size == 0) {
      error = EINVAL;
      return 0;
    }
  }
  size_t request = socks5::BuildRequest(out.subspan(size), command, target);
  if (request == 0) {
    error = EAFNOSUPPORT;
    return 0;
  }
  return size + request;
}

}  // namespace

int WaitConnected(int fd, int64_t deadline_ms) {
  if (int e = WaitFor(fd, POLLOUT, deadline_ms)) return e;
  int error = 0;
  socklen_t length = sizeof error;
  if (Real().getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

int Socks5Handshake(int fd, const ProxyConfig& proxy, uint8_t command, const sockaddr* target,
                    sockaddr_storage* bound, int64_t deadline_ms) {
  const bool has_token = proxy.token_size > 0;
  const std::string_view token(proxy.token, proxy.token_size);
  // The proxy's choice is known beforehand without a token (no authentication is all there is to
  // choose), and with one once this proxy has chosen before: then all steps go out at once.
  const int expected = has_token ? proxy.chosen_method.load(std::memory_order_relaxed)
                                 : socks5::kMethodNoAuthentication;
  uint8_t out[4 + 3 + 2 * 255 + socks5::kMaxReplySize];
  size_t size = socks5::BuildGreeting(out, has_token);
  if (expected >= 0) {
    int error = 0;
    size_t after = BuildAfterMethod(std::span(out).subspan(size), static_cast<uint8_t>(expected),
                                    token, command, target, error);
    if (after == 0) return error;
    size += after;
  }
  if (int e = SendAll(fd, out, size, deadline_ms)) return e;

  uint8_t in[socks5::kMaxReplySize];
  if (int e = ReceiveExactly(fd, in, 2, deadline_ms)) return e;
  uint8_t chosen = 0;
  // A proxy that accepts none of the offered methods refuses the connection.
  if (socks5::ParseMethodChoice({in, 2}, has_token, &chosen) != socks5::Parse::kOk)
    return ECONNREFUSED;
  if (has_token) proxy.chosen_method.store(chosen, std::memory_order_relaxed);
  // The steps sent ahead were for the other method and the proxy reads them as garbage; the next
  // connection asks first.
  if (expected >= 0 && chosen != expected) return ECONNREFUSED;
  if (expected < 0) {
    int error = 0;
    size = BuildAfterMethod(out, chosen, token, command, target, error);
    if (size == 0) return error;
    if (int e = SendAll(fd, out, size, deadline_ms)) return e;
  }
  if (chosen == socks5::kMethodUserPassword) {
    if (int e = ReceiveExactly(fd, in, 2, deadline_ms)) return e;
    if (socks5::ParseAuthStatus({in, 2}) != socks5::Parse::kOk) return ECONNREFUSED;
  }
  if (int e = ReceiveExactly(fd, in, 5, deadline_ms)) return e;
  size_t whole = socks5::ExpectedReplySize({in, 5});
  if (whole == 0) return ECONNREFUSED;
  if (int e = ReceiveExactly(fd, in + 5, whole - 5, deadline_ms)) return e;
  socks5::Reply reply;
  if (socks5::ParseReply({in, whole}, reply) != socks5::Parse::kOk ||
      reply.code != socks5::kReplySucceeded)
    return ECONNREFUSED;
  if (bound) *bound = reply.bound;
  return 0;
}
