#include "platform/pipe_connection.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

template <typename F>
auto RetryOnInterrupt(F call) {
  for (;;) {
    auto r = call();
    if (r >= 0 || errno != EINTR) return r;
  }
}

// The largest message a peer can send: its send buffer, which setsockopt may raise to twice
// net.core.wmem_max (more only with CAP_NET_ADMIN).
size_t MaxMessageSize() {
  size_t wmem_max = 212992;
  if (std::FILE* f = std::fopen("/proc/sys/net/core/wmem_max", "r")) {
    unsigned long value = 0;
    if (std::fscanf(f, "%lu", &value) == 1 && value > 0) wmem_max = value;
    std::fclose(f);
  }
  return 2 * wmem_max;
}

// One per thread, made on its first read; only the pages a message touches are ever used.
std::span<std::byte> ScratchBuffer() {
  thread_local std::unique_ptr<std::byte[]> buffer;
  thread_local size_t size = 0;
  if (!buffer) {
    size = MaxMessageSize();
    buffer.reset(new std::byte[size]);
  }
  return {buffer.get(), size};
}

}  // namespace

Result<void> EnablePassCredentials(int socket) {
  int on = 1;
  if (::setsockopt(socket, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0)
    return Error::FromErrno("setsockopt SO_PASSCRED");
  return {};
}

PipeConnection::PipeConnection(UniqueFd socket) : socket_(std::move(socket)) {}

Result<PipeConnection::ReadResult> PipeConnection::read(std::span<std::byte> buffer) {
  if (closed_) return Error{EBADF, "read on a closed pipe"};
  if (rest_offset_ < rest_.size()) {
    size_t n = std::min(buffer.size(), rest_.size() - rest_offset_);
    std::memcpy(buffer.data(), rest_.data() + rest_offset_, n);
    rest_offset_ += n;
    bool complete = rest_offset_ == rest_.size();
    if (complete) rest_.clear(), rest_offset_ = 0;
    return ReadResult{n, complete};
  }
  // One call takes the whole message, whatever the caller's buffer, into a scratch buffer large
  // enough for any message a peer may send; the credentials that come with every message tell an
  // empty message from the hang-up.
  std::span<std::byte> scratch = ScratchBuffer();
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
  iovec data{scratch.data(), scratch.size()};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t length = RetryOnInterrupt([&] { return ::recvmsg(socket_.get(), &message, MSG_TRUNC); });
  if (length < 0) return Error::FromErrno("recvmsg");
  if (length == 0 && message.msg_controllen == 0) {
    if (closed_) return Error{EBADF, "read on a closed pipe"};
    return Error{EPIPE, "peer hung up"};
  }
  auto size = static_cast<size_t>(length);
  if (size > scratch.size()) return Error{EMSGSIZE, "message larger than a socket buffer"};
  if (size <= buffer.size()) {
    std::memcpy(buffer.data(), scratch.data(), size);
    return ReadResult{size, true};
  }
  std::memcpy(buffer.data(), scratch.data(), buffer.size());
  rest_.assign(scratch.begin() + static_cast<ptrdiff_t>(buffer.size()),
               scratch.begin() + static_cast<ptrdiff_t>(size));
  rest_offset_ = 0;
  return ReadResult{buffer.size(), false};
}

Result<void> PipeConnection::write(std::span<const std::byte> message) {
  if (closed_) return Error{EBADF, "write on a closed pipe"};
  ssize_t sent = RetryOnInterrupt(
      [&] { return ::send(socket_.get(), message.data(), message.size(), MSG_NOSIGNAL); });
  if (sent < 0) return Error::FromErrno("send");
  return {};
}

Result<void> PipeConnection::write(std::span<const std::byte> message,
                                   std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (closed_) return Error{EBADF, "write on a closed pipe"};
    ssize_t sent = RetryOnInterrupt([&] {
      return ::send(socket_.get(), message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    if (sent >= 0) return {};
    if (errno != EAGAIN) return Error::FromErrno("send");
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Error{ETIMEDOUT, "the peer takes no messages"};
    pollfd p{socket_.get(), POLLOUT, 0};
    if (RetryOnInterrupt([&] { return ::poll(&p, 1, static_cast<int>(left.count())); }) < 0)
      return Error::FromErrno("poll");
  }
}

Result<void> PipeConnection::flush() {
  if (closed_) return Error{EBADF, "flush on a closed pipe"};
  // The socket's output queue holds what the peer has not read yet. Each message the peer
  // consumes raises a write-space wake-up on our socket, which poll cannot see (the socket is
  // writable all along) but an edge-triggered epoll watch for EPOLLOUT reports; the time-out only
  // bounds a wait whose wake-up came between our look at the queue and the wait.
  if (!write_watch_) {
    write_watch_ = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
    if (!write_watch_) return Error::FromErrno("epoll_create1");
    epoll_event watch{};
    watch.events = EPOLLOUT | EPOLLET;
    if (::epoll_ctl(write_watch_.get(), EPOLL_CTL_ADD, socket_.get(), &watch) != 0) {
      write_watch_.reset();
      return Error::FromErrno("epoll_ctl");
    }
  }
  // A peer that waits for our message reads it within microseconds of waking: look again for a
  // short while before sleeping, which spares this thread a wake-up of its own per message.
  const auto spin_until = std::chrono::steady_clock::now() + std::chrono::microseconds(100);
  for (;;) {
    if (closed_) return Error{EBADF, "flush on a closed pipe"};
    int queued = 0;
    if (::ioctl(socket_.get(), SIOCOUTQ, &queued) != 0) return Error::FromErrno("SIOCOUTQ");
    if (queued == 0) return {};
    if (std::chrono::steady_clock::now() < spin_until) {
      sched_yield();
      continue;
    }
    epoll_event event;
    if (::epoll_wait(write_watch_.get(), &event, 1, 50) < 0 && errno != EINTR)
      return Error::FromErrno("epoll_wait");
  }
}

Result<bool> PipeConnection::wait_readable(std::chrono::milliseconds timeout) {
  if (closed_) return Error{EBADF, "wait on a closed pipe"};
  if (rest_offset_ < rest_.size()) return true;
  pollfd p{socket_.get(), POLLIN, 0};
  int n = RetryOnInterrupt([&] { return ::poll(&p, 1, static_cast<int>(timeout.count())); });
  if (n < 0) return Error::FromErrno("poll");
  return n > 0;
}

Result<void> PipeConnection::close() {
  if (closed_.exchange(true)) return Error{EBADF, "pipe already closed"};
  ::shutdown(socket_.get(), SHUT_RDWR);
  // Drop what the peer sent and we never read, so that a peer waiting in flush() returns now
  // rather than when the descriptor is finally released. Every message, even an empty one, comes
  // with credentials; nothing at all means the queue is empty.
  for (;;) {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr message{};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(socket_.get(), &message, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n == 0 && message.msg_controllen == 0)) break;
  }
  return {};
}
