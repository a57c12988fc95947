// Client side of the network-stack benchmark; bench/lsp/run.py runs it plainly, with the
// preload library and under proxychains4, and prints the comparison.
//
//   lsp-bench connect N HOST PORT [GAP_MS]
//                                     N blocking connects to HOST PORT (the peer closes them),
//                                     GAP_MS apart when given (the pause is not timed);
//                                     prints "connect <median us> <mean us>"
//   lsp-bench bulk BYTES HOST PORT    one connection; reads BYTES the peer sends;
//                                     prints "bulk <MB/s>"
//   lsp-bench overhead N              N connects to a loopback listener of its own;
//                                     prints "overhead <median ns> <mean ns>"
//   lsp-bench callcost N              N connects of an invalid descriptor to an IPv4 address:
//                                     the call's own cost without the kernel's connect work;
//                                     prints "callcost <ns per call>"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "common/socket_bench.h"

namespace {

using bench::Clock;
using bench::Nanoseconds;

void PrintStatistics(const char* name, const std::vector<double>& samples, double scale) {
  double mean = std::accumulate(samples.begin(), samples.end(), 0.0) / samples.size();
  std::printf("%s %.3f %.3f\n", name, bench::Median(samples) / scale, mean / scale);
}

int ConnectSeries(int count, const sockaddr_in& target, int gap_ms) {
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && gap_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    auto start = Clock::now();
    if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
      std::perror("connect");
      return 1;
    }
    samples.push_back(Nanoseconds(Clock::now() - start));
    close(fd);
  }
  PrintStatistics("connect", samples, 1000.0);
  return 0;
}

int Bulk(long long bytes, const sockaddr_in& target) {
  int fd = bench::ConnectTcp(target);
  return fd < 0 ? 1 : bench::ReadBulk(fd, bytes);
}

int Overhead(int count) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4096) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 1;
  std::thread acceptor([listener, count] {
    for (int i = 0; i < count; ++i) {
      int fd = accept(listener, nullptr, nullptr);
      if (fd >= 0) close(fd);
    }
  });
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    auto start = Clock::now();
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
    samples.push_back(Nanoseconds(Clock::now() - start));
    close(fd);
  }
  acceptor.join();
  PrintStatistics("overhead", samples, 1.0);
  return 0;
}

int CallCost(int count) {
  sockaddr_in target = bench::Ipv4Address("192.0.2.1", "80");
  auto start = Clock::now();
  for (int i = 0; i < count; ++i)
    (void)connect(-1, reinterpret_cast<const sockaddr*>(&target), sizeof target);
  std::printf("callcost %.1f\n", Nanoseconds(Clock::now() - start) / count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "connect") == 0)
    return ConnectSeries(std::atoi(argv[2]), bench::Ipv4Address(argv[3], argv[4]),
                         argc == 6 ? std::atoi(argv[5]) : 0);
  if (argc == 5 && std::strcmp(argv[1], "bulk") == 0)
    return Bulk(std::atoll(argv[2]), bench::Ipv4Address(argv[3], argv[4]));
  if (argc == 3 && std::strcmp(argv[1], "overhead") == 0) return Overhead(std::atoi(argv[2]));
  if (argc == 3 && std::strcmp(argv[1], "callcost") == 0) return CallCost(std::atoi(argv[2]));
  std::fprintf(stderr, "usage: see the head of lsp_bench.cpp\n");
  return 2;
}
