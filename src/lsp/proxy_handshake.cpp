#include "lsp/proxy_handshake.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <string_view>

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

}  // namespace

int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int WaitConnected(int fd, int64_t deadline_ms) {
  if (int e = WaitFor(fd, POLLOUT, deadline_ms)) return e;
  int error = 0;
  socklen_t length = sizeof error;
  if (Real().getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

int Socks5Handshake(int fd, const ProxyConfig& proxy, uint8_t command, const sockaddr* target,
                    sockaddr_storage* bound, int64_t deadline_ms) {
  uint8_t out[3 + 3 + 2 * 255 + socks5::kMaxReplySize];
  std::span<uint8_t> rest(out);
  size_t size = socks5::BuildGreeting(rest);
  const std::string_view token(proxy.token, proxy.token_size);
  size_t auth = socks5::BuildAuthRequest(rest.subspan(size), token, token);
  if (auth == 0) return EINVAL;
  size += auth;
  size_t request = socks5::BuildRequest(rest.subspan(size), command, target);
  if (request == 0) return EAFNOSUPPORT;
  size += request;
  if (int e = SendAll(fd, out, size, deadline_ms)) return e;

  uint8_t in[socks5::kMaxReplySize];
  if (int e = ReceiveExactly(fd, in, 2, deadline_ms)) return e;
  if (socks5::ParseMethodChoice({in, 2}) != socks5::Parse::kOk) return ECONNREFUSED;
  if (int e = ReceiveExactly(fd, in, 2, deadline_ms)) return e;
  if (socks5::ParseAuthStatus({in, 2}) != socks5::Parse::kOk) return ECONNREFUSED;
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
