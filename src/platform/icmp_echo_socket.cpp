#include "platform/icmp_echo_socket.h"

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kEchoReplyType = 0;
constexpr uint8_t kEchoRequestType = 8;
constexpr size_t kIcmpHeaderSize = 8;

// Raw sockets see every ICMP packet of the host, so each probe carries its own identifier and
// sequence number. The kernel assigns the identifier of a datagram socket itself.
std::atomic<uint32_t> next_probe{0};

uint16_t ReadBigEndian16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void WriteBigEndian16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
}

uint16_t InternetChecksum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) sum += ReadBigEndian16(&bytes[i]);
  if (i < bytes.size()) sum += static_cast<uint32_t>(bytes[i]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> BuildEchoRequest(uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> data) {
  std::vector<uint8_t> packet(kIcmpHeaderSize + data.size(), 0);
  packet[0] = kEchoRequestType;
  WriteBigEndian16(&packet[4], id);
  WriteBigEndian16(&packet[6], sequence);
  std::copy(data.begin(), data.end(), packet.begin() + kIcmpHeaderSize);
  WriteBigEndian16(&packet[2], InternetChecksum(packet));
  return packet;
}

// The ICMP message inside a packet read from a raw socket (which keeps the IP header).
std::span<const uint8_t> SkipIpHeader(std::span<const uint8_t> packet) {
  if (packet.size() < sizeof(iphdr)) return {};
  size_t header = (packet[0] & 0x0F) * 4u;
  if (header < sizeof(iphdr) || packet.size() < header) return {};
  return packet.subspan(header);
}

uint32_t SourceAddress(std::span<const uint8_t> ip_packet) {
  uint32_t address;
  std::memcpy(&address, ip_packet.data() + offsetof(iphdr, saddr), sizeof address);
  return address;
}

struct Probe {
  uint32_t address;
  uint16_t id;
  uint16_t sequence;
};

bool IsEchoOf(std::span<const uint8_t> icmp, const Probe& probe, bool check_id) {
  return icmp.size() >= kIcmpHeaderSize && (!check_id || ReadBigEndian16(&icmp[4]) == probe.id) &&
         ReadBigEndian16(&icmp[6]) == probe.sequence;
}

// What one packet read from a raw socket says about the probe: nothing when it belongs to
// another conversation (our own request included, which loopback shows us too).
std::optional<IcmpStatus> ReadRawAnswer(std::span<const uint8_t> packet, const Probe& probe) {
  std::span<const uint8_t> icmp = SkipIpHeader(packet);
  if (icmp.size() < kIcmpHeaderSize) return std::nullopt;
  uint8_t type = icmp[0];
  if (type == kEchoReplyType) {
    if (SourceAddress(packet) == probe.address && IsEchoOf(icmp, probe, true)) return kIcmpSuccess;
    return std::nullopt;
  }
  if (type == kEchoRequestType) return std::nullopt;
  // An error message quotes the offending IP header and the first 8 bytes of our request.
  std::span<const uint8_t> quoted = icmp.subspan(kIcmpHeaderSize);
  std::span<const uint8_t> quoted_icmp = SkipIpHeader(quoted);
  if (quoted_icmp.size() < kIcmpHeaderSize || quoted[offsetof(iphdr, protocol)] != IPPROTO_ICMP ||
      quoted_icmp[0] != kEchoRequestType || !IsEchoOf(quoted_icmp, probe, true))
    return std::nullopt;
  uint32_t quoted_destination;
  std::memcpy(&quoted_destination, quoted.data() + offsetof(iphdr, daddr), sizeof(uint32_t));
  if (quoted_destination != probe.address) return std::nullopt;
  return StatusForIcmpError(type, icmp[1]);
}

// A datagram socket's error queue holds the ICMP errors that answered its requests. The socket
// carries one probe only, so any ICMP error on it is the answer.
std::optional<IcmpStatus> ReadQueuedError(int fd) {
  uint8_t payload[576];
  alignas(cmsghdr) uint8_t control[512];
  iovec io{payload, sizeof payload};
  msghdr message{};
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  if (recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
    // No queued message: a pending socket error (read and so cleared here) is the answer.
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error != 0)
      return StatusForSendErrno(error);
    return std::nullopt;
  }
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR) continue;
    sock_extended_err error;
    std::memcpy(&error, CMSG_DATA(c), sizeof error);
    if (error.ee_origin == SO_EE_ORIGIN_ICMP)
      return StatusForIcmpError(error.ee_type, error.ee_code);
    return StatusForSendErrno(static_cast<int>(error.ee_errno));
  }
  return std::nullopt;
}

std::optional<IcmpStatus> ReadAnswer(int fd, IcmpEchoSocket::Kind kind, short events,
                                     const Probe& probe) {
  if (kind == IcmpEchoSocket::Kind::kDatagram && (events & POLLERR)) return ReadQueuedError(fd);
  uint8_t buffer[65536];
  ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (got <= 0) return std::nullopt;
  std::span<const uint8_t> packet(buffer, static_cast<size_t>(got));
  if (kind == IcmpEchoSocket::Kind::kRaw) return ReadRawAnswer(packet, probe);
  // A datagram socket delivers only the ICMP message, and only answers to its own identifier.
  if (packet[0] == kEchoReplyType && IsEchoOf(packet, probe, false)) return kIcmpSuccess;
  return std::nullopt;
}

}  // namespace

Result<IcmpEchoSocket> IcmpEchoSocket::Open() {
  UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (fd) {
    int on = 1;
    setsockopt(fd.get(), SOL_IP, IP_RECVERR, &on, sizeof on);
    return IcmpEchoSocket(std::move(fd), Kind::kDatagram);
  }
  fd.reset(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (!fd) return Error::FromErrno("socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)");
  return IcmpEchoSocket(std::move(fd), Kind::kRaw);
}

IcmpEchoReply IcmpEchoSocket::Echo(uint32_t address, std::span<const uint8_t> data,
                                   uint32_t timeout_ms) {
  uint32_t probe_number = next_probe.fetch_add(1, std::memory_order_relaxed);
  Probe probe{address, static_cast<uint16_t>(getpid() ^ (probe_number >> 16)),
              static_cast<uint16_t>(probe_number)};
  std::vector<uint8_t> request = BuildEchoRequest(probe.id, probe.sequence, data);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = address;

  Clock::time_point start = Clock::now();
  Clock::time_point deadline = start + std::chrono::milliseconds(timeout_ms);
  if (sendto(fd_.get(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&target),
             sizeof target) < 0)
    return {StatusForSendErrno(errno), 0};
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd watch{fd_.get(), POLLIN, 0};
    int wait_ms = static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
    int ready = poll(&watch, 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return {kIcmpTimedOut, 0};
    std::optional<IcmpStatus> status = ReadAnswer(fd_.get(), kind_, watch.revents, probe);
    if (!status) continue;
    if (*status != kIcmpSuccess) return {*status, 0};
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return {kIcmpSuccess, static_cast<uint32_t>(elapsed.count())};
  }
}
