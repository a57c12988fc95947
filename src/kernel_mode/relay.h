// The relay that TPROXY hands caught connections to: transparent listeners on loopback for TCP
// and UDP, IPv4 and IPv6, served by one thread.
//   TCP: each accepted connection's original destination (its local address) is reached by a
//        SOCKS5 CONNECT; then bytes are moved both ways (splice, no copy) until both ends close.
//   UDP: each program socket (source address and port) gets its own UDP ASSOCIATE; datagrams go
//        out with their original destination in the SOCKS5 header, and answers come back to the
//        program from the peer's own address and port. At most kMaxUdpAssociations at once:
//        the association of a closed program socket lasts until idle for minutes, so a new
//        one ends the least active rather than go unserved.
// An idle caught connection is probed every minute (TCP keep-alive), so that the program's
// answer keeps the connection known to the rules that route it here.
// When the proxy cannot be reached the program's connection is reset, never sent directly; the
// failure is reported so that the component can refuse further connections at once.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "base/result.h"
#include "kernel_mode/nft_script.h"

// Datagrams of programs that the relay dropped itself since it started, by why.
struct UdpDrops {
  uint64_t waiting = 0;       // beyond the queue of a program socket whose association is not ready
  uint64_t unassociated = 0;  // no association: no proxy, or making one failed or paused
  uint64_t sending = 0;       // the socket towards the proxy took none (a full buffer, ...)
  uint64_t answering = 0;     // an answer could not be handed to the program
};

// Program sockets with a UDP association at once; a further one ends the least active.
inline constexpr size_t kMaxUdpAssociations = 4096;

struct ProxyEndpoint {
  sockaddr_storage address{};
  socklen_t length = 0;
  std::string token;  // username and password; empty: no authentication
};

class Relay {
 public:
  // Binds the listeners and starts the relay's thread. Every packet the relay sends to a
  // program carries `mark` (the accepted connections take it from their listener). Needs
  // CAP_NET_ADMIN (transparent sockets, marks) and CAP_NET_RAW (answers from the peer's address).
  [[nodiscard]] static Result<std::unique_ptr<Relay>> Start(
      uint32_t mark, size_t max_udp_associations = kMaxUdpAssociations);
  ~Relay();

  // The listeners' ports (0 for a family this machine does not have).
  [[nodiscard]] RelayPorts ports() const;
  // The proxy for connections caught from now on; nullopt resets them. Thread-safe.
  void SetProxy(std::optional<ProxyEndpoint> proxy);
  // True once after a connection found the proxy unreachable. Thread-safe.
  [[nodiscard]] bool TakeProxyFailure() { return proxy_failed_.exchange(false); }
  // What the relay dropped so far. Thread-safe.
  [[nodiscard]] UdpDrops udp_drops() const;

  struct Impl;

 private:
  explicit Relay(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
  std::atomic<bool> proxy_failed_{false};
};
