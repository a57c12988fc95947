// What the benchmarks' socket clients share: an IPv4 address from the command line, durations as
// numbers, the median of samples, and a timed bulk read that prints its rate.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// HOST and PORT as given on the command line; exits with status 2 when HOST is no IPv4 address.
inline sockaddr_in Ipv4Address(const char* host, const char* port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(port)));
  if (inet_pton(AF_INET, host, &address.sin_addr) != 1) {
    std::fprintf(stderr, "not an IPv4 address: %s\n", host);
    std::exit(2);
  }
  return address;
}

inline double Microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

inline double Nanoseconds(Clock::duration d) {
  return std::chrono::duration<double, std::nano>(d).count();
}

// The middle sample (the upper one of the two middles for an even count); `samples` is not empty.
inline double Median(std::vector<double> samples) {
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

// A TCP connection to `target`, or -1.
inline int ConnectTcp(const sockaddr_in& target) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Reads from `fd` until `bytes` came or the peer stops sending, closes it and prints
// "bulk <MB/s>". 0 when every byte came, else 1.
inline int ReadBulk(int fd, long long bytes) {
  std::vector<char> buffer(1 << 17);
  const auto start = Clock::now();
  long long got = 0;
  while (got < bytes) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    got += n;
  }
  const double seconds = Microseconds(Clock::now() - start) / 1e6;
  ::close(fd);
  std::printf("bulk %.1f\n", static_cast<double>(got) / seconds / 1e6);
  return got == bytes ? 0 : 1;
}

}  // namespace bench
