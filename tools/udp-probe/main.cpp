// A small UDP client for the network-stack tests: sends datagrams to an echo peer and checks
// that each comes back from that peer.
//
//   udp-probe [--connected] HOST PORT [COUNT]
//
// Sends COUNT (default 3) datagrams "probe N" with sendto and waits up to 2 s for each echo with
// recvfrom; with --connected, connects the socket to the peer and uses write and read instead,
// and checks that getpeername names the peer. Prints "echo N from HOST PORT" per answer. Exit
// status: 0 when every datagram came back unchanged from HOST PORT, 1 otherwise, 2 on bad usage.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  bool connected = argc > 1 && std::strcmp(argv[1], "--connected") == 0;
  if (connected) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: udp-probe [--connected] HOST PORT [COUNT]\n");
    return 2;
  }
  int count = argc > 3 ? std::atoi(argv[3]) : 3;
  addrinfo hints{};
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* peer = nullptr;
  if (getaddrinfo(argv[1], argv[2], &hints, &peer) != 0) return 2;
  int fd = socket(peer->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 1;
  int status = 0;
  if (connected) {
    sockaddr_storage named{};
    socklen_t named_length = sizeof named;
    if (connect(fd, peer->ai_addr, peer->ai_addrlen) != 0 ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&named), &named_length) != 0 ||
        named_length != peer->ai_addrlen || std::memcmp(&named, peer->ai_addr, named_length) != 0) {
      std::printf("connect or getpeername failed\n");
      return 1;
    }
  }
  for (int i = 0; i < count; ++i) {
    std::string message = "probe " + std::to_string(i);
    ssize_t sent =
        connected ? write(fd, message.data(), message.size())
                  : sendto(fd, message.data(), message.size(), 0, peer->ai_addr, peer->ai_addrlen);
    if (sent != static_cast<ssize_t>(message.size())) {
      std::perror("send");
      return 1;
    }
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 2000) != 1) {
      std::printf("no echo %d\n", i);
      status = 1;
      continue;
    }
    char buffer[2048];
    sockaddr_storage from{};
    socklen_t from_length = sizeof from;
    ssize_t n =
        recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
    char host[NI_MAXHOST], port[NI_MAXSERV];
    if (n < 0 || getnameinfo(reinterpret_cast<sockaddr*>(&from), from_length, host, sizeof host,
                             port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
      status = 1;
      continue;
    }
    std::printf("echo %d from %s %s\n", i, host, port);
    bool same_peer =
        from_length == peer->ai_addrlen && std::memcmp(&from, peer->ai_addr, from_length) == 0;
    if (std::string(buffer, static_cast<size_t>(n)) != message || !same_peer) status = 1;
  }
  freeaddrinfo(peer);
  close(fd);
  return status;
}
