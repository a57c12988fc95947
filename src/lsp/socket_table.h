// What the library knows about each socket it redirected, indexed by descriptor. The table is
// made on the first redirection, so a process that is not accelerated never has one and pays
// one pointer load per hooked call. Entries change under one process-wide lock, which is taken
// around fork so that a child never inherits it held. Thread-safe.
#pragma once

#include <sys/epoll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>

enum class SocketKind : uint8_t {
  kNone,
  kTcpPending,  // non-blocking connect: the proxy handshake runs on a helper thread
  kTcpProxied,  // connected to the destination through the proxy
  kTcpFailed,   // the proxy could not be used; reads as a refused connection
  kUdp,         // datagrams travel through the proxy's UDP association
};

struct EpollRegistration {
  int epoll_fd = -1;
  epoll_event event{};
};

// Every field of a zeroed entry is valid: the table is anonymous memory, never constructed.
struct SocketEntry {
  std::atomic<SocketKind> kind{SocketKind::kNone};
  uint32_t generation = 0;         // changes when the descriptor is closed or replaced
  sockaddr_storage destination{};  // TCP: the real peer; UDP: the connect()ed peer, if any
  socklen_t destination_length = 0;
  int done_fd = -1;          // eventfd, readable once a pending connect has ended
  int error_to_report = 0;   // SO_ERROR's next answer for a failed connect
  int control_fd = -1;       // UDP: the association's TCP connection to the proxy
  sockaddr_storage relay{};  // UDP: where datagrams go, in the socket's family
  socklen_t relay_length = 0;
  static constexpr int kMaxRegistrations = 4;
  EpollRegistration registrations[kMaxRegistrations];
  int registration_count = 0;
};

class SocketTable {
 public:
  // The entry of `fd` when the table exists and the entry is in use; nullptr otherwise. Reading
  // fields other than `kind` needs the lock.
  [[nodiscard]] static SocketEntry* Find(int fd);
  // The entry of `fd`, making the table when needed; nullptr when `fd` is beyond its size or
  // no memory could be had. Call with the lock held.
  [[nodiscard]] static SocketEntry* Claim(int fd);
  // Forgets `fd`'s entry (closing the library's own descriptors kept there). Lock held.
  static void Release(int fd);

  static void Lock();
  static void Unlock();

  // Number of entries in kTcpPending; readiness hooks work only while it is above zero.
  static std::atomic<int> pending;
};

// Holds the table's lock for a scope.
class TableLock {
 public:
  TableLock() { SocketTable::Lock(); }
  ~TableLock() { SocketTable::Unlock(); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
};
