#include "lsp/udp_relay.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/monotonic_clock.h"
#include "lsp/destination.h"
#include "lsp/failure_report.h"
#include "lsp/iovec_shift.h"
#include "lsp/proxy_handshake.h"
#include "lsp/real_calls.h"
#include "lsp/socket_table.h"
#include "lsp/socks5.h"

namespace {

constexpr size_t kMaxIovecs = 64;

// Opens the association for `fd` unless it has one; false (errno set) when it cannot.
bool EnsureAssociation(int fd, const ProxyConfig& proxy) {
  if (SocketEntry* entry = SocketTable::Find(fd); entry && entry->kind == SocketKind::kUdp)
    return true;
  int family = AF_UNSPEC;
  socklen_t family_length = sizeof family;
  if (Real().getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &family, &family_length) != 0) return false;

  const RealCalls& real = Real();
  int control = real.socket(proxy.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (control < 0) return false;
  int64_t deadline = NowMs() + kProxyTimeoutMs;
  int error = 0;
  if (real.connect(control, reinterpret_cast<const sockaddr*>(&proxy.address), proxy.length) != 0)
    error = errno == EINPROGRESS ? WaitConnected(control, deadline) : errno;
  // The client's own address is not known before its first datagram; zeros say so.
  sockaddr_in any{};
  any.sin_family = AF_INET;
  sockaddr_storage bound{};
  if (error == 0)
    error = Socks5Handshake(control, proxy, socks5::kCommandUdpAssociate,
                            reinterpret_cast<const sockaddr*>(&any), &bound, deadline);
  sockaddr_storage relay{};
  socklen_t relay_length = 0;
  if (error == 0) {
    // A relay given as the unspecified address or a name is the proxy's own address.
    auto* bound_address = reinterpret_cast<sockaddr*>(&bound);
    if (bound.ss_family == AF_UNSPEC || IsDirectDestination(bound_address, true)) {
      in_port_t port = bound.ss_family == AF_INET6
                           ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                           : reinterpret_cast<sockaddr_in*>(&bound)->sin_port;
      std::memcpy(&bound, &proxy.address, proxy.length);
      if (bound.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port = port;
      else
        reinterpret_cast<sockaddr_in*>(&bound)->sin_port = port;
    }
    if (!ConvertToFamily(bound_address, family, relay, relay_length)) error = EAFNOSUPPORT;
  }
  if (error != 0) {
    __close(control);
    ReportProxyFailure(proxy, "UDP association", error);
    errno = ENETUNREACH;
    return false;
  }
  TableLock lock;
  SocketEntry* entry = SocketTable::Claim(fd);
  if (entry == nullptr) {
    __close(control);
    errno = ENOBUFS;
    return false;
  }
  SocketTable::Release(fd);
  entry->control_fd = control;
  entry->relay = relay;
  entry->relay_length = relay_length;
  entry->kind.store(SocketKind::kUdp, std::memory_order_release);
  return true;
}

}  // namespace

ssize_t SendThroughRelay(int fd, const msghdr* message, int flags, const ProxyConfig* proxy) {
  if (proxy && !EnsureAssociation(fd, *proxy)) return -1;
  sockaddr_storage relay, destination;
  socklen_t relay_length = 0;
  {
    TableLock lock;
    SocketEntry* entry = SocketTable::Find(fd);
    if (entry == nullptr || entry->kind != SocketKind::kUdp) {
      errno = EBADF;
      return -1;
    }
    relay = entry->relay;
    relay_length = entry->relay_length;
    if (message->msg_name) {
      std::memcpy(&destination, message->msg_name,
                  AddressLength(static_cast<sockaddr*>(message->msg_name)));
    } else if (entry->destination_length > 0) {
      destination = entry->destination;
    } else {
      errno = EDESTADDRREQ;
      return -1;
    }
  }
  if (message->msg_iovlen > kMaxIovecs) {
    errno = EMSGSIZE;
    return -1;
  }
  uint8_t header[socks5::kMaxUdpHeaderSize];
  size_t header_size =
      socks5::BuildUdpHeader(header, reinterpret_cast<const sockaddr*>(&destination));
  if (header_size == 0) {
    errno = EAFNOSUPPORT;
    return -1;
  }
  iovec parts[kMaxIovecs + 1];
  parts[0] = {header, header_size};
  for (size_t i = 0; i < message->msg_iovlen; ++i) parts[i + 1] = message->msg_iov[i];
  msghdr relayed = *message;
  relayed.msg_name = &relay;
  relayed.msg_namelen = relay_length;
  relayed.msg_iov = parts;
  relayed.msg_iovlen = message->msg_iovlen + 1;
  ssize_t sent = Real().sendmsg(fd, &relayed, flags);
  if (sent < 0) return -1;
  return sent >= static_cast<ssize_t>(header_size) ? sent - static_cast<ssize_t>(header_size) : 0;
}

ssize_t ReceiveFromRelay(int fd, msghdr* message, int flags) {
  sockaddr_storage relay;
  {
    TableLock lock;
    SocketEntry* entry = SocketTable::Find(fd);
    if (entry == nullptr || entry->kind != SocketKind::kUdp)
      return Real().recvmsg(fd, message, flags);
    relay = entry->relay;
  }
  if (message->msg_iovlen > kMaxIovecs) {
    errno = EMSGSIZE;
    return -1;
  }
  for (;;) {
    uint8_t head[socks5::kMaxUdpHeaderSize];
    iovec parts[kMaxIovecs + 1];
    parts[0] = {head, sizeof head};
    for (size_t i = 0; i < message->msg_iovlen; ++i) parts[i + 1] = message->msg_iov[i];
    sockaddr_storage source{};
    msghdr received = *message;
    received.msg_name = &source;
    received.msg_namelen = sizeof source;
    received.msg_iov = parts;
    received.msg_iovlen = message->msg_iovlen + 1;
    ssize_t n = Real().recvmsg(fd, &received, flags & ~MSG_TRUNC);
    if (n < 0) return -1;
    size_t got = static_cast<size_t>(n);
    size_t head_filled = got < sizeof head ? got : sizeof head;
    socks5::UdpHeader header;
    if (!SameEndpoint(reinterpret_cast<sockaddr*>(&source), reinterpret_cast<sockaddr*>(&relay))) {
      // Not from the relay (a direct peer): hand it over unchanged.
      size_t payload = ShiftPayloadIntoIovecs(head, head_filled, 0, message->msg_iov,
                                              message->msg_iovlen, got - head_filled);
      if (message->msg_name) {
        socklen_t length = message->msg_namelen < received.msg_namelen ? message->msg_namelen
                                                                       : received.msg_namelen;
        std::memcpy(message->msg_name, &source, length);
        message->msg_namelen = received.msg_namelen;
      }
      message->msg_controllen = received.msg_controllen;
      message->msg_flags = received.msg_flags | (payload < got ? MSG_TRUNC : 0);
      return static_cast<ssize_t>((flags & MSG_TRUNC) ? got : payload);
    }
    if (socks5::ParseUdpHeader({head, head_filled}, header) != socks5::Parse::kOk ||
        header.source.ss_family == AF_UNSPEC) {
      if (flags & MSG_PEEK) {
        (void)Real().recv(fd, head, 1, flags & ~MSG_PEEK);  // drop it, or peeking loops for ever
      }
      continue;  // a fragment or garbage from the relay: dropped, as the relay drops ours
    }
    size_t payload_size = got - header.size;
    size_t payload = ShiftPayloadIntoIovecs(head, head_filled, header.size, message->msg_iov,
                                            message->msg_iovlen, got - head_filled);
    if (message->msg_name) {
      sockaddr_storage sender;
      socklen_t sender_length = 0;
      int family = relay.ss_family;
      if (!ConvertToFamily(reinterpret_cast<sockaddr*>(&header.source), family, sender,
                           sender_length)) {
        sender = header.source;
        sender_length = AddressLength(reinterpret_cast<sockaddr*>(&header.source));
      }
      socklen_t length =
          message->msg_namelen < sender_length ? message->msg_namelen : sender_length;
      std::memcpy(message->msg_name, &sender, length);
      message->msg_namelen = sender_length;
    }
    message->msg_controllen = received.msg_controllen;
    message->msg_flags = received.msg_flags | (payload < payload_size ? MSG_TRUNC : 0);
    return static_cast<ssize_t>((flags & MSG_TRUNC) ? payload_size : payload);
  }
}

int ConnectUdpThroughProxy(int fd, const sockaddr* destination, socklen_t length,
                           const ProxyConfig& proxy) {
  if (!EnsureAssociation(fd, proxy)) return -1;
  sockaddr_storage relay;
  socklen_t relay_length;
  {
    TableLock lock;
    SocketEntry* entry = SocketTable::Find(fd);
    if (entry == nullptr) {
      errno = EBADF;
      return -1;
    }
    std::memcpy(&entry->destination, destination, length);
    entry->destination_length = length;
    relay = entry->relay;
    relay_length = entry->relay_length;
  }
  return Real().connect(fd, reinterpret_cast<sockaddr*>(&relay), relay_length);
}
