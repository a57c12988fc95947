/* A program whose traffic the kernel-mode tests route: built by the tests as a static Linux
 * program and, with mingw-w64, as a Windows console program run by Wine.
 *
 *   probe HOST TCP_PORT UDP_PORT
 *
 * For each line read from standard input (the test's "go"), it connects to HOST TCP_PORT, sends
 * "ping" and reads the echo; sends "udp" to HOST UDP_PORT from an unconnected socket; and sends
 * "cudp" from a connected one. It prints one line per attempt, with the peer's address as the
 * program sees it:
 *   tcp ADDRESS PORT REPLY | tcp refused | tcp error CODE
 *   udp ADDRESS PORT REPLY | udp refused | udp timeout | udp error CODE
 *   cudp ADDRESS PORT REPLY | cudp refused | cudp timeout | cudp error CODE
 * then "done". Ends at the end of its input.
 *
 * A line "open" instead connects to HOST TCP_PORT, sends "ping", reads the echo and keeps the
 * connection: it prints "open ADDRESS PORT REPLY" (or "open refused" / "open error CODE") and
 * "done". A line "send" sends "pong" on the kept connection and reads the echo: "send REPLY",
 * "send refused", "send closed" or "send error CODE", then "done".
 *
 *   probe serve
 *
 * A program that other sides reach: prints "ready"; after a line on standard input, prints the
 * port it listens on for TCP and UDP (any address), then answers "hosted" to each TCP
 * connection's first bytes and to each datagram, until killed. */
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef SOCKET sock_t;
#define LAST_ERROR WSAGetLastError()
#define REFUSED(e) ((e) == WSAECONNREFUSED || (e) == WSAECONNRESET)
#define close_socket closesocket
#else
#include <arpa/inet.h>
#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
typedef int sock_t;
#define INVALID_SOCKET (-1)
#define LAST_ERROR errno
#define REFUSED(e) ((e) == ECONNREFUSED || (e) == ECONNRESET)
#define close_socket close
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* HOST as a socket address; the family is 0 when it is no numeric address. Numeric only, so
 * that the static build needs no resolver. */
static socklen_t parse_address(const char* host, const char* port, struct sockaddr_storage* out) {
  memset(out, 0, sizeof *out);
  struct sockaddr_in* in4 = (struct sockaddr_in*)out;
  struct sockaddr_in6* in6 = (struct sockaddr_in6*)out;
  unsigned short number = (unsigned short)atoi(port);
  if (inet_pton(AF_INET, host, &in4->sin_addr) == 1) {
    in4->sin_family = AF_INET;
    in4->sin_port = htons(number);
    return sizeof *in4;
  }
  if (inet_pton(AF_INET6, host, &in6->sin6_addr) == 1) {
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(number);
    return sizeof *in6;
  }
  return 0;
}

static void print_peer(const char* what, const struct sockaddr* address, const char* reply) {
  char host[64] = "?";
  unsigned port = 0;
  if (address->sa_family == AF_INET) {
    const struct sockaddr_in* in4 = (const struct sockaddr_in*)address;
    inet_ntop(AF_INET, &in4->sin_addr, host, sizeof host);
    port = ntohs(in4->sin_port);
  } else if (address->sa_family == AF_INET6) {
    const struct sockaddr_in6* in6 = (const struct sockaddr_in6*)address;
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
  }
  printf("%s %s %u %s\n", what, host, port, reply);
}

static void print_error(const char* what, int error) {
  if (REFUSED(error))
    printf("%s refused\n", what);
  else
    printf("%s error %d\n", what, error);
}

static void set_timeout(sock_t fd) {
#ifdef _WIN32
  DWORD ms = 4000;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, (const char*)&ms, sizeof ms);
#else
  struct timeval tv = {4, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
#endif
}

static int timed_out(int error) {
#ifdef _WIN32
  return error == WSAETIMEDOUT;
#else
  return error == EAGAIN || error == EWOULDBLOCK;
#endif
}

/* Connects to HOST PORT and has "ping" echoed; prints the outcome as `what`. Returns the
 * connection when `keep` is set and it worked, INVALID_SOCKET otherwise. */
static sock_t tcp(const char* what, const char* host, const char* port, int keep) {
  struct sockaddr_storage peer;
  socklen_t peer_length = parse_address(host, port, &peer);
  if (peer_length == 0) {
    printf("%s error address\n", what);
    return INVALID_SOCKET;
  }
  sock_t fd = socket(peer.ss_family, SOCK_STREAM, 0);
  char reply[64] = {0};
  struct sockaddr_storage named;
  socklen_t length = sizeof named;
  int worked = 0;
  set_timeout(fd);
  if (connect(fd, (struct sockaddr*)&peer, (int)peer_length) != 0) {
    print_error(what, LAST_ERROR);
  } else if (send(fd, "ping", 4, 0) != 4 || recv(fd, reply, sizeof reply - 1, 0) <= 0) {
    print_error(what, LAST_ERROR);
  } else if (getpeername(fd, (struct sockaddr*)&named, &length) != 0) {
    print_error(what, LAST_ERROR);
  } else {
    print_peer(what, (struct sockaddr*)&named, reply);
    worked = 1;
  }
  if (keep && worked) return fd;
  close_socket(fd);
  return INVALID_SOCKET;
}

/* Has "pong" echoed on a kept connection. */
static void send_again(sock_t fd) {
  char reply[64] = {0};
  int got = -1;
  if (fd == INVALID_SOCKET) return (void)printf("send error none\n");
  if (send(fd, "pong", 4, 0) == 4) got = recv(fd, reply, sizeof reply - 1, 0);
  if (got > 0)
    printf("send %s\n", reply);
  else if (got == 0)
    printf("send closed\n");
  else
    print_error("send", LAST_ERROR);
}

static void udp(const char* host, const char* port, int connected) {
  const char* what = connected ? "cudp" : "udp";
  struct sockaddr_storage peer;
  socklen_t peer_length = parse_address(host, port, &peer);
  if (peer_length == 0) return (void)printf("%s error address\n", what);
  sock_t fd = socket(peer.ss_family, SOCK_DGRAM, 0);
  char reply[64] = {0};
  struct sockaddr_storage from;
  socklen_t length = sizeof from;
  int got = -1;
  set_timeout(fd);
  /* Datagrams may be lost: up to three tries, as a program using UDP would retry. */
  if (connected) {
    if (connect(fd, (struct sockaddr*)&peer, (int)peer_length) == 0)
      for (int try = 0; try < 3 && got <= 0 && send(fd, what, 4, 0) == 4; ++try)
        got = recv(fd, reply, sizeof reply - 1, 0);
    if (got > 0) got = getpeername(fd, (struct sockaddr*)&from, &length) == 0 ? got : -1;
  } else {
    for (int try = 0; try < 3 && got <= 0; ++try) {
      if (sendto(fd, what, 3, 0, (struct sockaddr*)&peer, (int)peer_length) != 3) break;
      got = recvfrom(fd, reply, sizeof reply - 1, 0, (struct sockaddr*)&from, &length);
    }
  }
  if (got > 0)
    print_peer(what, (struct sockaddr*)&from, reply);
  else if (timed_out(LAST_ERROR))
    printf("%s timeout\n", what);
  else
    print_error(what, LAST_ERROR);
  close_socket(fd);
}

static int serve(void) {
  char line[64];
  printf("ready\n");
  if (fgets(line, sizeof line, stdin) == NULL) return 1;
  struct sockaddr_in any;
  socklen_t length = sizeof any;
  memset(&any, 0, sizeof any);
  any.sin_family = AF_INET;
  sock_t listener = socket(AF_INET, SOCK_STREAM, 0);
  sock_t datagrams = socket(AF_INET, SOCK_DGRAM, 0);
  if (bind(listener, (struct sockaddr*)&any, sizeof any) != 0 || listen(listener, 8) != 0 ||
      getsockname(listener, (struct sockaddr*)&any, &length) != 0 ||
      bind(datagrams, (struct sockaddr*)&any, sizeof any) != 0)
    return 1;
  printf("%u\n", ntohs(any.sin_port));
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    FD_SET(datagrams, &readable);
    int highest = (int)(listener > datagrams ? listener : datagrams);
    if (select(highest + 1, &readable, NULL, NULL, NULL) <= 0) return 1;
    char in[64];
    if (FD_ISSET(listener, &readable)) {
      sock_t connection = accept(listener, NULL, NULL);
      if (connection != INVALID_SOCKET) {
        if (recv(connection, in, sizeof in, 0) > 0) send(connection, "hosted", 6, 0);
        close_socket(connection);
      }
    }
    if (FD_ISSET(datagrams, &readable)) {
      struct sockaddr_storage from;
      socklen_t from_length = sizeof from;
      if (recvfrom(datagrams, in, sizeof in, 0, (struct sockaddr*)&from, &from_length) > 0)
        sendto(datagrams, "hosted", 6, 0, (struct sockaddr*)&from, (int)from_length);
    }
  }
}

int main(int argc, char** argv) {
  char line[64];
#ifdef _WIN32
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
#endif
  setvbuf(stdout, NULL, _IONBF, 0);
  if (argc == 2 && strcmp(argv[1], "serve") == 0) return serve();
  if (argc != 4) {
    fprintf(stderr, "usage: probe HOST TCP_PORT UDP_PORT | probe serve\n");
    return 2;
  }
  printf("ready\n");
  sock_t kept = INVALID_SOCKET;
  while (fgets(line, sizeof line, stdin) != NULL) {
    if (strcmp(line, "open\n") == 0) {
      if (kept != INVALID_SOCKET) close_socket(kept);
      kept = tcp("open", argv[1], argv[2], 1);
    } else if (strcmp(line, "send\n") == 0) {
      send_again(kept);
    } else {
      tcp("tcp", argv[1], argv[2], 0);
      udp(argv[1], argv[3], 0);
      udp(argv[1], argv[3], 1);
    }
    printf("done\n");
  }
  if (kept != INVALID_SOCKET) close_socket(kept);
  return 0;
}
