#include "kernel_mode/forwarder.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// One direction of a forwarded connection.
struct Flow {
  int from = -1, to = -1;
  int pipe[2] = {-1, -1};
  bool ended = false, closed = false;
  Flow* other = nullptr;
};

// Moves what `from` has to `to`; true once both directions have ended.
bool Pump(Flow& flow) {
  for (;;) {
    ssize_t n = ::splice(flow.from, nullptr, flow.pipe[1], nullptr, 1 << 20,
                         SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (n < 0) return false;  // nothing more for now
    if (n == 0) {
      ::shutdown(flow.to, SHUT_WR);
      flow.ended = true;
      return flow.other->ended;
    }
    // Written in full before reading on, waiting while `to` is full.
    while (n > 0) {
      ssize_t m = ::splice(flow.pipe[0], nullptr, flow.to, nullptr, static_cast<size_t>(n),
                           SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
      if (m > 0) {
        n -= m;
      } else if (m < 0 && errno == EAGAIN) {
        pollfd writable{flow.to, POLLOUT, 0};
        ::poll(&writable, 1, -1);
      } else {
        return true;  // a broken side ends the connection
      }
    }
  }
}

[[noreturn]] void Serve(int listener, uint16_t target_port) {
  int epoll = ::epoll_create1(0);
  epoll_event event{EPOLLIN, {.ptr = nullptr}};
  ::epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event);
  for (;;) {
    epoll_event ready[16];
    int count = ::epoll_wait(epoll, ready, 16, -1);
    std::vector<std::unique_ptr<Flow[]>> ended;
    for (int i = 0; i < count; ++i) {
      auto* flow = static_cast<Flow*>(ready[i].data.ptr);
      if (flow != nullptr) {
        // The other direction's event of this round may still come: freed after the round.
        if (flow->closed || !Pump(*flow)) continue;
        ::close(flow->from);
        ::close(flow->to);
        for (Flow* f : {flow, flow->other}) {
          ::close(f->pipe[0]);
          ::close(f->pipe[1]);
          f->closed = true;
        }
        ended.emplace_back(flow < flow->other ? flow : flow->other);
        continue;
      }
      int client = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
      if (client < 0) continue;
      int server = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in target = Loopback(target_port);
      int on = 1;
      ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      if (::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        ::close(server);
        ::close(client);
        continue;
      }
      ::fcntl(server, F_SETFL, O_NONBLOCK);
      Flow* flows = new Flow[2];
      flows[0].from = flows[1].to = client;
      flows[0].to = flows[1].from = server;
      flows[0].other = &flows[1];
      flows[1].other = &flows[0];
      for (int f = 0; f < 2; ++f) {
        if (::pipe(flows[f].pipe) != 0) std::abort();  // a benchmark's forwarder gives up
        ::fcntl(flows[f].pipe[1], F_SETPIPE_SZ, 1 << 20);
        epoll_event watch{EPOLLIN, {.ptr = &flows[f]}};
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, flows[f].from, &watch);
      }
    }
  }
}

}  // namespace

pid_t StartForwarder(uint16_t target_port, uint16_t& port) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1024) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return -1;
  port = ntohs(address.sin_port);
  pid_t child = ::fork();
  if (child == 0) Serve(listener, target_port);
  ::close(listener);
  return child;
}
