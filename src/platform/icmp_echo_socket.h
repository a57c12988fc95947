// ICMP echo over IPv4: one socket sends one echo request and waits for its answer, the way the
// platform's echo service works (a new handle per probe). Sockets are ICMP datagram ("ping")
// sockets; where the kernel refuses those (the caller's group lies outside
// net.ipv4.ping_group_range, Debian's default "1 0") a raw ICMP socket, which root or a program
// with cap_net_raw may open. Echo() blocks for up to its time-out: call it from a worker thread.
// One socket is used by one thread at a time; separate sockets are independent.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "base/unique_fd.h"
#include "platform/icmp_status.h"

struct IcmpEchoReply {
  IcmpStatus status = kIcmpGeneralFailure;
  uint32_t round_trip_ms = 0;  // whole milliseconds, truncated; 0 unless status is kIcmpSuccess
};

class IcmpEchoSocket {
 public:
  enum class Kind { kDatagram, kRaw };

  // Opens a datagram echo socket, or a raw one where the datagram kind is refused. Fails with the
  // raw socket's errno when neither may be opened.
  [[nodiscard]] static Result<IcmpEchoSocket> Open();

  [[nodiscard]] Kind kind() const { return kind_; }
  // The descriptor, for socket options (tests attach a filter that drops every answer).
  [[nodiscard]] int fd() const { return fd_.get(); }

  // Sends one echo request carrying exactly `data` to `address` (IPv4, network byte order) and
  // waits up to `timeout_ms` for the matching echo reply or ICMP error. No answer in time gives
  // kIcmpTimedOut; a failed send gives the status of its errno (StatusForSendErrno).
  [[nodiscard]] IcmpEchoReply Echo(uint32_t address, std::span<const uint8_t> data,
                                   uint32_t timeout_ms);

 private:
  IcmpEchoSocket(UniqueFd fd, Kind kind) : fd_(std::move(fd)), kind_(kind) {}

  UniqueFd fd_;
  Kind kind_;
};
