// Helpers for tests that send ICMP echo requests to 127.0.0.1 (never anywhere else).
#pragma once

#include <arpa/inet.h>
#include <linux/filter.h>
#include <sys/socket.h>

#include <span>

#include "platform/icmp_echo_socket.h"

inline const uint32_t kLoopbackAddress = htonl(INADDR_LOOPBACK);

// Why echo tests cannot run here, or "" when an echo socket may be opened.
inline std::string EchoSocketUnavailableReason() {
  if (IcmpEchoSocket::Open()) return "";
  return "neither an ICMP datagram socket (net.ipv4.ping_group_range) nor a raw ICMP socket "
         "(root or cap_net_raw) may be opened by this process";
}

// Makes a socket deaf: a filter that drops every packet before it reaches the socket, so an
// echo request to 127.0.0.1 goes out and is answered by the kernel but its answer never arrives.
inline bool DropEveryAnswer(int fd) {
  static sock_filter drop_all[] = {BPF_STMT(BPF_RET | BPF_K, 0)};
  sock_fprog program{1, drop_all};
  return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

// One echo request through a socket that never hears an answer.
inline IcmpEchoReply EchoIntoTheVoid(uint32_t address, std::span<const uint8_t> data,
                                     uint32_t timeout_ms) {
  Result<IcmpEchoSocket> socket = IcmpEchoSocket::Open();
  if (!socket || !DropEveryAnswer(socket->fd())) return {kIcmpGeneralFailure, 0};
  return socket->Echo(address, data, timeout_ms);
}
