#include "platform/pipe_connection.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace {

template <typename F>
auto RetryOnInterrupt(F call) {
  for (;;) {
    auto r = call();
    if (r >= 0 || errno != EINTR) return r;
  }
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
  // Peek at the waiting message: its whole length, and whether there is one at all.
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
  msghdr peek{};
  peek.msg_control = control;
  peek.msg_controllen = sizeof control;
  ssize_t length =
      RetryOnInterrupt([&] { return ::recvmsg(socket_.get(), &peek, MSG_PEEK | MSG_TRUNC); });
  if (length < 0) return Error::FromErrno("recvmsg");
  if (length == 0 && peek.msg_controllen == 0) {
    if (closed_) return Error{EBADF, "read on a closed pipe"};
    return Error{EPIPE, "peer hung up"};
  }
  auto size = static_cast<size_t>(length);
  if (size <= buffer.size()) {
    ssize_t got = RetryOnInterrupt([&] { return ::recv(socket_.get(), buffer.data(), size, 0); });
    if (got < 0) return Error::FromErrno("recv");
    return ReadResult{static_cast<size_t>(got), true};
  }
  rest_.resize(size);
  ssize_t got = RetryOnInterrupt([&] { return ::recv(socket_.get(), rest_.data(), size, 0); });
  if (got < 0) {
    rest_.clear();
    return Error::FromErrno("recv");
  }
  std::memcpy(buffer.data(), rest_.data(), buffer.size());
  rest_offset_ = buffer.size();
  return ReadResult{buffer.size(), false};
}

Result<void> PipeConnection::write(std::span<const std::byte> message) {
  if (closed_) return Error{EBADF, "write on a closed pipe"};
  ssize_t sent = RetryOnInterrupt(
      [&] { return ::send(socket_.get(), message.data(), message.size(), MSG_NOSIGNAL); });
  if (sent < 0) return Error::FromErrno("send");
  return {};
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
  for (;;) {
    if (closed_) return Error{EBADF, "flush on a closed pipe"};
    int queued = 0;
    if (::ioctl(socket_.get(), SIOCOUTQ, &queued) != 0) return Error::FromErrno("SIOCOUTQ");
    if (queued == 0) return {};
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
  // rather than when the descriptor is finally released.
  std::byte sink[256];
  while (::recv(socket_.get(), sink, sizeof sink, MSG_DONTWAIT | MSG_TRUNC) > 0 || errno == EINTR) {
  }
  return {};
}
