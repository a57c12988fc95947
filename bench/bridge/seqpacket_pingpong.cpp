// Round trips of one small message between two processes over a SOCK_SEQPACKET socket pair.
// Prints microseconds per round trip. Usage: bench_seqpacket_pingpong [round trips]
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) return 1;
  char buf[256];
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    ssize_t n;
    while ((n = recv(fds[1], buf, sizeof buf, 0)) > 0) send(fds[1], buf, n, 0);
    _exit(0);
  }
  close(fds[1]);
  const char message[] = "42\n\"file:///x\"\n\"GetPair\"\ns\"\"";
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    send(fds[0], message, sizeof message, 0);
    if (recv(fds[0], buf, sizeof buf, 0) <= 0) return 1;
  }
  double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                  .count() / rounds;
  close(fds[0]);
  waitpid(child, nullptr, 0);
  std::printf("%.2f\n", us);
  return 0;
}
