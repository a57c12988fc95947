// Client side of the kernel-mode benchmark; bench/kernel_mode/run.py runs it caught by the
// kernel-mode component, with the preload library, under proxychains4 and plainly, and prints
// the comparison.
//
//   km-bench [--wait-group] connect N HOST PORT
//        N connects to HOST PORT, whose peer closes each at once; prints
//        "connect <median us of connect()> <median us until the peer's close is read>"
//   km-bench [--wait-group] udp N HOST PORT
//        N datagrams to an echo peer, one at a time; prints "udp <median round trip us>"
//   km-bench [--wait-group] bulk BYTES HOST PORT
//        reads BYTES that the peer sends on one connection; prints "bulk <MB/s>"
//   km-bench [--hop] socks-bulk BYTES PROXY_PORT TOKEN HOST PORT
//        the same, speaking SOCKS5 to the proxy on loopback itself
//   km-bench [--hop] socks-connect N PROXY_PORT TOKEN HOST PORT
//        N connections through the proxy on loopback, speaking SOCKS5 itself, to HOST PORT,
//        whose peer closes each at once; prints "socks-connect <median us until the close is
//        read>"
// --wait-group first waits until the process is in an accelerated cgroup (the component moves
// a listed program there just after it starts).
// --hop reaches the proxy through one plain forwarding hop (forwarder.h): what a relay costs at
// the least on this machine.
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/socket_bench.h"
#include "kernel_mode/forwarder.h"

namespace {

using bench::Clock;
using bench::Median;
using bench::Microseconds;

bool WaitGroup() {
  for (int i = 0; i < 5000; ++i) {
    std::ifstream in("/proc/self/cgroup");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    if (text.find("/morvil/") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

int Connects(int count, const sockaddr_in& target) {
  std::vector<double> connects, closes;
  for (int i = 0; i < count; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto start = Clock::now();
    if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
      std::perror("connect");
      return 1;
    }
    connects.push_back(Microseconds(Clock::now() - start));
    char byte;
    const ssize_t closed = read(fd, &byte, 1);
    closes.push_back(Microseconds(Clock::now() - start));
    close(fd);
    if (closed != 0) return 1;
  }
  std::printf("connect %.1f %.1f\n", Median(connects), Median(closes));
  return 0;
}

int Datagrams(int count, const sockaddr_in& target) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  timeval limit{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::vector<double> samples;
  char buffer[64] = "datagram";
  for (int i = 0; i < count; ++i) {
    auto start = Clock::now();
    if (sendto(fd, buffer, 8, 0, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 8 ||
        recv(fd, buffer, sizeof buffer, 0) != 8)
      return 1;
    samples.push_back(Microseconds(Clock::now() - start));
  }
  std::printf("udp %.1f\n", Median(samples));
  return 0;
}

int Bulk(long long bytes, const sockaddr_in& target) {
  int fd = bench::ConnectTcp(target);
  return fd < 0 ? 1 : bench::ReadBulk(fd, bytes);
}

bool ReadExactly(int fd, unsigned char* out, size_t size) {
  while (size > 0) {
    ssize_t n = read(fd, out, size);
    if (n <= 0) return false;
    out += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Opens a connection through the proxy on loopback `proxy_port` to `target`, speaking SOCKS5
// with the token as username and password, all requests sent at once; -1 when refused.
int SocksConnect(uint16_t proxy_port, const std::string& token, const sockaddr_in& target) {
  int fd = bench::ConnectTcp(bench::Ipv4Address("127.0.0.1", std::to_string(proxy_port).c_str()));
  if (fd < 0) return -1;
  std::string request = {5, 1, 2, 1, static_cast<char>(token.size())};
  request += token;
  request += static_cast<char>(token.size());
  request += token;
  request += {5, 1, 0, 1};
  request.append(reinterpret_cast<const char*>(&target.sin_addr), 4);
  request.append(reinterpret_cast<const char*>(&target.sin_port), 2);
  unsigned char answer[2 + 2 + 10];
  if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()) ||
      !ReadExactly(fd, answer, sizeof answer) || answer[1] != 2 || answer[3] != 0 ||
      answer[5] != 0 || answer[7] != 1) {
    close(fd);
    return -1;
  }
  return fd;
}

int SocksBulk(long long bytes, uint16_t proxy_port, const std::string& token,
              const sockaddr_in& target) {
  int fd = SocksConnect(proxy_port, token, target);
  return fd < 0 ? 1 : bench::ReadBulk(fd, bytes);
}

int SocksConnects(int count, uint16_t proxy_port, const std::string& token,
                  const sockaddr_in& target) {
  std::vector<double> closes;
  for (int i = 0; i < count; ++i) {
    auto start = Clock::now();
    int fd = SocksConnect(proxy_port, token, target);
    if (fd < 0) return 1;
    char byte;
    const ssize_t closed = read(fd, &byte, 1);
    closes.push_back(Microseconds(Clock::now() - start));
    close(fd);
    if (closed != 0) return 1;
  }
  std::printf("socks-connect %.1f\n", Median(closes));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool hop = false;
  for (; argc > 1 && argv[1][0] == '-' && argv[1][1] == '-'; --argc, ++argv) {
    if (std::strcmp(argv[1], "--hop") == 0) {
      hop = true;
    } else if (std::strcmp(argv[1], "--wait-group") == 0) {
      if (!WaitGroup()) {
        std::fprintf(stderr, "km-bench: not moved into an accelerated cgroup\n");
        return 1;
      }
    } else {
      break;
    }
  }
  if (argc == 5 && std::strcmp(argv[1], "connect") == 0)
    return Connects(std::atoi(argv[2]), bench::Ipv4Address(argv[3], argv[4]));
  if (argc == 5 && std::strcmp(argv[1], "udp") == 0)
    return Datagrams(std::atoi(argv[2]), bench::Ipv4Address(argv[3], argv[4]));
  if (argc == 5 && std::strcmp(argv[1], "bulk") == 0)
    return Bulk(std::atoll(argv[2]), bench::Ipv4Address(argv[3], argv[4]));
  if (argc != 7 ||
      (std::strcmp(argv[1], "socks-bulk") != 0 && std::strcmp(argv[1], "socks-connect") != 0)) {
    std::fprintf(stderr, "usage: see the head of km_bench.cpp\n");
    return 2;
  }
  auto proxy_port = static_cast<uint16_t>(std::atoi(argv[3]));
  pid_t forwarder = -1;
  if (hop && (forwarder = StartForwarder(proxy_port, proxy_port)) < 0) return 1;
  const sockaddr_in target = bench::Ipv4Address(argv[5], argv[6]);
  const int status = std::strcmp(argv[1], "socks-bulk") == 0
                         ? SocksBulk(std::atoll(argv[2]), proxy_port, argv[4], target)
                         : SocksConnects(std::atoi(argv[2]), proxy_port, argv[4], target);
  if (forwarder > 0) {
    kill(forwarder, SIGKILL);
    waitpid(forwarder, nullptr, 0);
  }
  return status;
}
