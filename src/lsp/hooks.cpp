// The C library calls the preload library takes over. Each one first checks, as cheaply as it
// can, whether the call concerns a redirected socket or an accelerated process, and otherwise
// hands it to the C library untouched: a process that is not accelerated runs as it would
// without the library. Nothing here throws; the library is built without exceptions.
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lsp/destination.h"
#include "lsp/proxy_config.h"
#include "lsp/readiness.h"
#include "lsp/real_calls.h"
#include "lsp/socket_table.h"
#include "lsp/tcp_redirect.h"
#include "lsp/udp_relay.h"

#define LSP_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

bool IsIp(const sockaddr* address) {
  return address && (address->sa_family == AF_INET || address->sa_family == AF_INET6);
}

int SocketType(int fd) {
  int type = 0;
  socklen_t length = sizeof type;
  return Real().getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 ? type : 0;
}

// The proxy when `destination` from this process goes through it, else nullptr.
const ProxyConfig* ProxyFor(const sockaddr* destination, socklen_t length) {
  if (!IsIp(destination) || length < AddressLength(destination) || InsideLibrary::Active())
    return nullptr;
  const ProxyConfig* proxy = AcceleratedProxy();
  if (proxy == nullptr || IsDirectDestination(destination, proxy->proxy_loopback) ||
      SameEndpoint(destination, reinterpret_cast<const sockaddr*>(&proxy->address)))
    return nullptr;
  return proxy;
}

// Forgets whatever the table held for a descriptor number that now names something else.
void Forget(int fd) {
  if (SocketTable::Find(fd) == nullptr) return;
  TableLock lock;
  SocketTable::Release(fd);
}

bool IsRelayed(int fd) {
  SocketEntry* entry = SocketTable::Find(fd);
  return entry && entry->kind == SocketKind::kUdp;
}

timespec FromMs(int ms) {
  return {ms / 1000, (ms % 1000) * 1000000L};
}

}  // namespace

LSP_EXPORT int socket(int domain, int type, int protocol) {
  int fd = Real().socket(domain, type, protocol);
  if (fd >= 0) Forget(fd);
  return fd;
}

LSP_EXPORT int connect(int fd, const sockaddr* address, socklen_t length) {
  if (SocketEntry* entry = SocketTable::Find(fd); entry && entry->kind != SocketKind::kUdp)
    return ConnectAgain(fd, entry);
  const ProxyConfig* proxy = ProxyFor(address, length);
  if (proxy == nullptr) {
    if (IsIp(address)) Forget(fd);  // a relayed UDP socket now talks to a direct peer
    return Real().connect(fd, address, length);
  }
  int type = SocketType(fd);
  if (type == SOCK_STREAM) return ConnectThroughProxy(fd, address, length, *proxy);
  if (type == SOCK_DGRAM) return ConnectUdpThroughProxy(fd, address, length, *proxy);
  return Real().connect(fd, address, length);
}

LSP_EXPORT int close(int fd) {
  Forget(fd);
  return __close(fd);
}

LSP_EXPORT int dup2(int old_fd, int new_fd) {
  if (old_fd != new_fd) Forget(new_fd);
  return Real().dup2(old_fd, new_fd);
}

LSP_EXPORT int dup3(int old_fd, int new_fd, int flags) {
  if (old_fd != new_fd) Forget(new_fd);
  return Real().dup3(old_fd, new_fd, flags);
}

LSP_EXPORT int getpeername(int fd, sockaddr* address, socklen_t* length) {
  if (SocketTable::Find(fd) != nullptr && address && length) {
    TableLock lock;
    SocketEntry* entry = SocketTable::Find(fd);
    if (entry && entry->destination_length > 0) {
      if (entry->kind == SocketKind::kTcpProxied || entry->kind == SocketKind::kUdp) {
        socklen_t size = *length < entry->destination_length ? *length : entry->destination_length;
        std::memcpy(address, &entry->destination, size);
        *length = entry->destination_length;
        return 0;
      }
      errno = ENOTCONN;
      return -1;
    }
  }
  return Real().getpeername(fd, address, length);
}

LSP_EXPORT int getsockopt(int fd, int level, int name, void* value, socklen_t* length) {
  if (level == SOL_SOCKET && name == SO_ERROR && SocketTable::Find(fd) != nullptr && value &&
      length && *length >= sizeof(int)) {
    TableLock lock;
    SocketEntry* entry = SocketTable::Find(fd);
    if (entry &&
        (entry->kind == SocketKind::kTcpPending || entry->kind == SocketKind::kTcpFailed)) {
      // Reported once, as the kernel clears a socket's error when it is read.
      std::memcpy(value, &entry->error_to_report, sizeof(int));
      *length = sizeof(int);
      entry->error_to_report = 0;
      return 0;
    }
  }
  return Real().getsockopt(fd, level, name, value, length);
}

LSP_EXPORT int ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
  if (SocketTable::pending.load(std::memory_order_relaxed) == 0)
    return Real().ppoll(fds, count, timeout, mask);
  return PollWithPending(fds, count, timeout, mask);
}

LSP_EXPORT int poll(pollfd* fds, nfds_t count, int timeout_ms) {
  if (SocketTable::pending.load(std::memory_order_relaxed) == 0)
    return __poll(fds, count, timeout_ms);
  timespec limit = FromMs(timeout_ms);
  return PollWithPending(fds, count, timeout_ms < 0 ? nullptr : &limit, nullptr);
}

LSP_EXPORT int __poll_chk(pollfd* fds, nfds_t count, int timeout_ms, size_t /*fds_size*/) {
  return poll(fds, count, timeout_ms);
}

LSP_EXPORT int __ppoll_chk(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask,
                           size_t /*fds_size*/) {
  return ppoll(fds, count, timeout, mask);
}

LSP_EXPORT int pselect(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                       const timespec* timeout, const sigset_t* mask) {
  if (SocketTable::pending.load(std::memory_order_relaxed) == 0)
    return Real().pselect(nfds, readfds, writefds, exceptfds, timeout, mask);
  return SelectWithPending(nfds, readfds, writefds, exceptfds, timeout, mask);
}

LSP_EXPORT int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                      timeval* timeout) {
  // The C library's own select, which also leaves the time not slept in `timeout`.
  if (SocketTable::pending.load(std::memory_order_relaxed) == 0)
    return __select(nfds, readfds, writefds, exceptfds, timeout);
  timespec limit{};
  if (timeout) limit = {timeout->tv_sec, timeout->tv_usec * 1000};
  return SelectWithPending(nfds, readfds, writefds, exceptfds, timeout ? &limit : nullptr, nullptr);
}

LSP_EXPORT int epoll_ctl(int epoll_fd, int op, int fd, epoll_event* event) {
  if (SocketTable::pending.load(std::memory_order_relaxed) == 0 || SocketTable::Find(fd) == nullptr)
    return Real().epoll_ctl(epoll_fd, op, fd, event);
  TableLock lock;
  SocketEntry* entry = SocketTable::Find(fd);
  if (entry == nullptr || entry->kind != SocketKind::kTcpPending)
    return Real().epoll_ctl(epoll_fd, op, fd, event);
  // Remember what the program asks for and listen for nothing until the handshake has ended.
  int slot = 0;
  while (slot < entry->registration_count && entry->registrations[slot].epoll_fd != epoll_fd)
    ++slot;
  if (op == EPOLL_CTL_DEL) {
    if (slot < entry->registration_count)
      entry->registrations[slot] = entry->registrations[--entry->registration_count];
    return Real().epoll_ctl(epoll_fd, op, fd, event);
  }
  if (event == nullptr || slot == SocketEntry::kMaxRegistrations)
    return Real().epoll_ctl(epoll_fd, op, fd, event);
  epoll_event silent = *event;
  silent.events &= EPOLLET | EPOLLONESHOT;
  int result = Real().epoll_ctl(epoll_fd, op, fd, &silent);
  if (result == 0) {
    entry->registrations[slot] = {epoll_fd, *event};
    if (slot == entry->registration_count) ++entry->registration_count;
  }
  return result;
}

LSP_EXPORT ssize_t sendmsg(int fd, const msghdr* message, int flags) {
  const auto* to = message ? static_cast<const sockaddr*>(message->msg_name) : nullptr;
  if (to == nullptr) {
    if (IsRelayed(fd)) return SendThroughRelay(fd, message, flags, nullptr);
    return Real().sendmsg(fd, message, flags);
  }
  const ProxyConfig* proxy = ProxyFor(to, message->msg_namelen);
  if (proxy == nullptr || (!IsRelayed(fd) && SocketType(fd) != SOCK_DGRAM))
    return Real().sendmsg(fd, message, flags);
  return SendThroughRelay(fd, message, flags, proxy);
}

LSP_EXPORT ssize_t sendto(int fd, const void* data, size_t size, int flags, const sockaddr* to,
                          socklen_t to_length) {
  if (to == nullptr && !IsRelayed(fd)) return Real().sendto(fd, data, size, flags, to, to_length);
  if (to != nullptr && ProxyFor(to, to_length) == nullptr)
    return Real().sendto(fd, data, size, flags, to, to_length);
  iovec part{const_cast<void*>(data), size};
  msghdr message{};
  message.msg_name = const_cast<sockaddr*>(to);
  message.msg_namelen = to_length;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  return sendmsg(fd, &message, flags);
}

LSP_EXPORT ssize_t send(int fd, const void* data, size_t size, int flags) {
  if (!IsRelayed(fd)) return Real().send(fd, data, size, flags);
  return sendto(fd, data, size, flags, nullptr, 0);
}

LSP_EXPORT ssize_t recvmsg(int fd, msghdr* message, int flags) {
  if (!IsRelayed(fd)) return Real().recvmsg(fd, message, flags);
  return ReceiveFromRelay(fd, message, flags);
}

LSP_EXPORT ssize_t recvfrom(int fd, void* data, size_t size, int flags, sockaddr* from,
                            socklen_t* from_length) {
  if (!IsRelayed(fd)) return Real().recvfrom(fd, data, size, flags, from, from_length);
  iovec part{data, size};
  msghdr message{};
  message.msg_name = from;
  message.msg_namelen = from && from_length ? *from_length : 0;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  ssize_t n = ReceiveFromRelay(fd, &message, flags);
  if (n >= 0 && from && from_length) *from_length = message.msg_namelen;
  return n;
}

LSP_EXPORT ssize_t recv(int fd, void* data, size_t size, int flags) {
  if (!IsRelayed(fd)) return Real().recv(fd, data, size, flags);
  return recvfrom(fd, data, size, flags, nullptr, nullptr);
}

LSP_EXPORT ssize_t write(int fd, const void* data, size_t size) {
  if (!IsRelayed(fd)) return __write(fd, data, size);
  return sendto(fd, data, size, 0, nullptr, 0);
}

LSP_EXPORT ssize_t read(int fd, void* data, size_t size) {
  if (!IsRelayed(fd)) return __read(fd, data, size);
  return recvfrom(fd, data, size, 0, nullptr, nullptr);
}

// The batch calls go message by message through the relay, as the C library's resolver uses
// them on its connected socket.
LSP_EXPORT int sendmmsg(int fd, mmsghdr* messages, unsigned int count, int flags) {
  if (!IsRelayed(fd) && !(count > 0 && messages[0].msg_hdr.msg_name &&
                          ProxyFor(static_cast<sockaddr*>(messages[0].msg_hdr.msg_name),
                                   messages[0].msg_hdr.msg_namelen)))
    return Real().sendmmsg(fd, messages, count, flags);
  unsigned int sent = 0;
  for (; sent < count; ++sent) {
    ssize_t n = sendmsg(fd, &messages[sent].msg_hdr, flags);
    if (n < 0) return sent > 0 ? static_cast<int>(sent) : -1;
    messages[sent].msg_len = static_cast<unsigned int>(n);
  }
  return static_cast<int>(sent);
}

LSP_EXPORT int recvmmsg(int fd, mmsghdr* messages, unsigned int count, int flags,
                        timespec* timeout) {
  if (!IsRelayed(fd)) return Real().recvmmsg(fd, messages, count, flags, timeout);
  unsigned int received = 0;
  for (; received < count; ++received) {
    // After the first message only what is already there is taken, as MSG_WAITFORONE asks.
    int each = received > 0 && (flags & MSG_WAITFORONE) ? (flags | MSG_DONTWAIT) : flags;
    ssize_t n = ReceiveFromRelay(fd, &messages[received].msg_hdr, each & ~MSG_WAITFORONE);
    if (n < 0) return received > 0 ? static_cast<int>(received) : -1;
    messages[received].msg_len = static_cast<unsigned int>(n);
  }
  return static_cast<int>(received);
}

LSP_EXPORT ssize_t __recv_chk(int fd, void* data, size_t size, size_t /*buffer_size*/, int flags) {
  return recv(fd, data, size, flags);
}

LSP_EXPORT ssize_t __read_chk(int fd, void* data, size_t size, size_t /*buffer_size*/) {
  return read(fd, data, size);
}

LSP_EXPORT ssize_t __recvfrom_chk(int fd, void* data, size_t size, size_t /*buffer_size*/,
                                  int flags, sockaddr* from, socklen_t* from_length) {
  return recvfrom(fd, data, size, flags, from, from_length);
}
