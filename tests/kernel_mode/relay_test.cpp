// The relay against a real kernel, inside a private network namespace (root only): program
// sockets whose datagrams and connections the routing rules hand to the relay, and a SOCKS5
// server on loopback that plays the peer too, answering each datagram with itself (from the
// address it was sent to).
#include "kernel_mode/relay.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/monotonic_clock.h"
#include "base/unique_fd.h"
#include "kernel_mode/command.h"
#include "kernel_mode/nft.h"
#include "kernel_mode/policy_routing.h"
#include "kernel_mode/user_keys.h"
#include "support/private_network.h"

namespace {

constexpr uid_t kUid = 4123459;
constexpr const char* kProgramAddress = "192.0.2.1";
constexpr const char* kPeerAddress = "192.0.2.10";
constexpr uint16_t kPeerPort = 7777;
constexpr int64_t kDeadlineMs = 10000;

sockaddr_in Ipv4(const char* address, uint16_t port) {
  sockaddr_in out{};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &out.sin_addr);
  return out;
}

const sockaddr* Sa(const sockaddr_in& a) {
  return reinterpret_cast<const sockaddr*>(&a);
}

bool ReadExactly(int fd, uint8_t* out, size_t size) {
  for (size_t got = 0; got < size;) {
    ssize_t n = ::recv(fd, out + got, size - got, 0);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

// A SOCKS5 server without authentication that serves UDP ASSOCIATE only, one thread per
// association. While held, it leaves the association requests unanswered.
class EchoingProxy {
 public:
  EchoingProxy() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address = Ipv4("127.0.0.1", 0);
    socklen_t length = sizeof address;
    if (::bind(listener_.get(), Sa(address), sizeof address) != 0 ||
        ::listen(listener_.get(), 64) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
      std::perror("proxy listener");
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~EchoingProxy() {
    ::shutdown(listener_.get(), SHUT_RDWR);
    acceptor_.join();
    Hold(false);
    for (std::thread& t : associations_) t.join();
  }

  ProxyEndpoint endpoint() const {
    ProxyEndpoint proxy;
    sockaddr_in address = Ipv4("127.0.0.1", port_);
    std::memcpy(&proxy.address, &address, sizeof address);
    proxy.length = sizeof address;
    return proxy;
  }
  void Hold(bool held) {
    std::lock_guard lock(mutex_);
    held_ = held;
    released_.notify_all();
  }
  int associations() {
    std::lock_guard lock(mutex_);
    return made_;
  }
  // Connections the relay opened to it, whatever they asked.
  int connections() {
    std::lock_guard lock(mutex_);
    return accepted_;
  }

 private:
  void Accept() {
    for (;;) {
      // Waits before accepting: accept takes a descriptor before it waits, which a test that
      // runs out of descriptors meanwhile would take for a failure.
      pollfd pending{listener_.get(), POLLIN, 0};
      if (::poll(&pending, 1, -1) != 1) return;
      int control = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
      if (control < 0) return;  // shut down
      {
        std::lock_guard lock(mutex_);
        ++accepted_;
      }
      associations_.emplace_back([this, control] { Serve(UniqueFd(control)); });
    }
  }

  void Serve(UniqueFd control) {
    uint8_t greeting[3], request[10];
    const uint8_t chosen[2] = {5, 0};
    if (!ReadExactly(control.get(), greeting, sizeof greeting) || greeting[2] != 0 ||
        ::send(control.get(), chosen, sizeof chosen, MSG_NOSIGNAL) != 2 ||
        !ReadExactly(control.get(), request, sizeof request) || request[1] != 3)
      return;
    {
      std::unique_lock lock(mutex_);
      released_.wait(lock, [this] { return !held_; });
      ++made_;
    }
    UniqueFd datagrams(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in bound = Ipv4("127.0.0.1", 0);
    socklen_t length = sizeof bound;
    if (::bind(datagrams.get(), Sa(bound), sizeof bound) != 0 ||
        ::getsockname(datagrams.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
      return;
    uint8_t reply[10] = {5, 0, 0, 1};
    std::memcpy(reply + 4, &bound.sin_addr, 4);
    std::memcpy(reply + 8, &bound.sin_port, 2);
    if (::send(control.get(), reply, sizeof reply, MSG_NOSIGNAL) != sizeof reply) return;
    std::vector<uint8_t> datagram(65536);
    for (;;) {
      pollfd fds[2] = {{control.get(), POLLIN, 0}, {datagrams.get(), POLLIN, 0}};
      if (::poll(fds, 2, -1) <= 0 || fds[0].revents != 0) return;  // the relay ended it
      sockaddr_in from{};
      socklen_t from_length = sizeof from;
      ssize_t n = ::recvfrom(datagrams.get(), datagram.data(), datagram.size(), 0,
                             reinterpret_cast<sockaddr*>(&from), &from_length);
      // The header names the peer the datagram was for: the answer comes from that peer.
      if (n > 0) ::sendto(datagrams.get(), datagram.data(), n, 0, Sa(from), from_length);
    }
  }

  UniqueFd listener_;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::vector<std::thread> associations_;  // touched by the acceptor only until it ended
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  int made_ = 0, accepted_ = 0;
};

// A program's UDP socket on kProgramAddress, connected to the peer, whose datagrams the rules
// hand to the relay.
UniqueFd ProgramSocket(const UserKeys& keys) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in self = Ipv4(kProgramAddress, 0), peer = Ipv4(kPeerAddress, kPeerPort);
  uint32_t mark = keys.mark;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_MARK, &mark, sizeof mark) != 0 ||
      ::bind(fd.get(), Sa(self), sizeof self) != 0 || ::connect(fd.get(), Sa(peer), sizeof peer))
    return UniqueFd();
  return fd;
}

// Sets the descriptor limit to the lowest free descriptor plus `spare`: every one below it is
// in use, so the process (the relay's thread too) can open `spare` more.
bool LeaveDescriptors(int spare) {
  int lowest = ::dup(0);
  if (lowest < 0) return false;
  ::close(lowest);
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(lowest + spare);
  return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

// A program's TCP connection from kProgramAddress to the peer, which the rules hand to the
// relay (made by the kernel whether or not the relay accepts it), made once the process has
// only `spare` descriptors left.
UniqueFd ProgramConnection(const UserKeys& keys, int spare) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in self = Ipv4(kProgramAddress, 0), peer = Ipv4(kPeerAddress, kPeerPort);
  uint32_t mark = keys.mark;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_MARK, &mark, sizeof mark) != 0 ||
      ::bind(fd.get(), Sa(self), sizeof self) != 0 || !LeaveDescriptors(spare) ||
      ::connect(fd.get(), Sa(peer), sizeof peer))
    return UniqueFd();
  return fd;
}

bool SendText(int fd, const std::string& text) {
  return ::send(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

// The next datagram the socket receives (only the peer's reach a connected socket); empty when
// none comes before the deadline.
std::string Receive(int fd) {
  pollfd readable{fd, POLLIN, 0};
  if (::poll(&readable, 1, kDeadlineMs) != 1) return "";
  char in[256];
  ssize_t n = ::recv(fd, in, sizeof in, MSG_DONTWAIT);
  return n > 0 ? std::string(in, static_cast<size_t>(n)) : "";
}

template <typename Predicate>
bool WaitFor(Predicate predicate) {
  for (int64_t deadline = NowMs() + kDeadlineMs; NowMs() < deadline;) {
    if (predicate()) return true;
    std::this_thread::yield();
  }
  return predicate();
}

// A relay with the rules and routes that hand it the datagrams of sockets marked as the user's,
// in the private network namespace of the calling process; `body` returns its failures.
int WithRelay(size_t max_associations,
              const std::function<int(Relay&, EchoingProxy&, const UserKeys&)>& body) {
  const UserKeys keys = KeysForUser(kUid);
  if (RunCommand({"ip", "addr", "add", std::string(kProgramAddress) + "/32", "dev", "lo"}) != 0)
    return kSetupFailed;
  Result<PolicyRouting> routing = PolicyRouting::Install(keys);
  Result<std::unique_ptr<Relay>> relay = Relay::Start(keys.relay_mark, max_associations);
  Result<Nft> nft = Nft::Create();
  if (!routing || !relay || !nft) return kSetupFailed;
  char mark[16];
  std::snprintf(mark, sizeof mark, "0x%08x", keys.mark);
  if (!nft->Run("add table ip relay_test\n"
                "add chain ip relay_test prerouting { type filter hook prerouting priority "
                "mangle; policy accept; }\n"
                "add rule ip relay_test prerouting meta mark " +
                std::string(mark) +
                " meta l4proto udp tproxy to 127.0.0.1:" + std::to_string((*relay)->ports().udp4) +
                " accept\n"
                "add rule ip relay_test prerouting meta mark " +
                std::string(mark) + " meta l4proto tcp tproxy to 127.0.0.1:" +
                std::to_string((*relay)->ports().tcp4) + " accept\n"))
    return kSetupFailed;
  EchoingProxy proxy;
  (*relay)->SetProxy(proxy.endpoint());
  int failures = body(**relay, proxy, keys);
  relay->reset();  // ends the associations, and with them the proxy's threads
  return failures;
}

void ExpectNoFailures(size_t max_associations,
                      const std::function<int(Relay&, EchoingProxy&, const UserKeys&)>& body) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  std::optional<int> failures =
      RunInPrivateNetwork([&] { return WithRelay(max_associations, body); });
  if (!failures) GTEST_SKIP() << "no private network namespace with nftables and TPROXY";
  EXPECT_EQ(*failures, 0);
}

int Check(bool condition, const char* what) {
  if (!condition) std::fprintf(stderr, "failed: %s\n", what);
  return condition ? 0 : 1;
}

// A program that opens more sockets than the relay keeps associations for (closed sockets keep
// theirs until idle for minutes) is still answered on each: the least active association makes
// room, and its socket gets a new one when it sends again.
TEST(RelayUdpTest, SocketsBeyondTheAssociationLimitAreAnswered) {
  ExpectNoFailures(2, [](Relay& relay, EchoingProxy& proxy, const UserKeys& keys) {
    int failures = 0;
    UniqueFd sockets[3] = {ProgramSocket(keys), ProgramSocket(keys), ProgramSocket(keys)};
    for (int round = 0; round < 2; ++round)
      for (int i = 0; i < 3; ++i) {
        const std::string text = "round " + std::to_string(round) + " socket " + std::to_string(i);
        failures += Check(SendText(sockets[i].get(), text), "send");
        failures += Check(Receive(sockets[i].get()) == text, text.c_str());
      }
    failures += Check(proxy.associations() == 6, "an association for each socket and round");
    UdpDrops drops = relay.udp_drops();
    failures += Check(drops.waiting + drops.unassociated + drops.sending + drops.answering == 0,
                      "nothing dropped");
    return failures;
  });
}

// Datagrams sent before the proxy answered the association wait for it, up to a bound; what
// goes beyond it is counted, and the rest is relayed in order once the proxy answers.
TEST(RelayUdpTest, DatagramsWaitForTheAssociationUpToABoundAndTheRestAreCounted) {
  ExpectNoFailures(
      kMaxUdpAssociations, [](Relay& relay, EchoingProxy& proxy, const UserKeys& keys) {
        int failures = 0;
        proxy.Hold(true);
        UniqueFd program = ProgramSocket(keys);
        for (int i = 0; i < 70; ++i)
          failures += Check(SendText(program.get(), std::to_string(i)), "send");
        failures += Check(WaitFor([&] { return relay.udp_drops().waiting == 6; }), "6 counted");
        proxy.Hold(false);
        for (int i = 0; i < 64; ++i)
          failures += Check(Receive(program.get()) == std::to_string(i), "in order");
        failures += Check(proxy.associations() == 1, "one association");
        return failures;
      });
}

// Running out of descriptors is this machine's shortage, not the proxy's: the datagram is
// counted as dropped, the proxy is not reported unreachable (which would refuse every program's
// connections), and the next datagram is relayed once descriptors are free again.
TEST(RelayUdpTest, NoDescriptorForAnAssociationIsNotAnUnreachableProxy) {
  ExpectNoFailures(
      kMaxUdpAssociations, [](Relay& relay, EchoingProxy& proxy, const UserKeys& keys) {
        int failures = 0;
        UniqueFd program = ProgramSocket(keys);
        rlimit normal{};
        ::getrlimit(RLIMIT_NOFILE, &normal);
        failures += Check(LeaveDescriptors(0), "setrlimit");
        failures += Check(SendText(program.get(), "lost"), "send");
        failures += Check(WaitFor([&] { return relay.udp_drops().unassociated == 1; }), "counted");
        failures += Check(::setrlimit(RLIMIT_NOFILE, &normal) == 0, "setrlimit back");
        failures += Check(!relay.TakeProxyFailure(), "proxy not reported unreachable");
        failures += Check(SendText(program.get(), "relayed"), "send");
        failures += Check(Receive(program.get()) == "relayed", "relayed once descriptors are free");
        failures += Check(proxy.associations() == 1, "one association");
        return failures;
      });
}

// Running out of descriptors for a caught connection is this machine's shortage too: the
// connection is reset, the proxy is not reported unreachable, and a connection that could not
// even be accepted waits for descriptors to be free again, then goes on to the proxy.
TEST(RelayTcpTest, NoDescriptorForAConnectionIsNotAnUnreachableProxy) {
  ExpectNoFailures(
      kMaxUdpAssociations, [](Relay& relay, EchoingProxy& proxy, const UserKeys& keys) {
        int failures = 0;
        rlimit normal{};
        ::getrlimit(RLIMIT_NOFILE, &normal);
        // One descriptor left: the relay accepts, but has none for the proxy's connection.
        UniqueFd reset = ProgramConnection(keys, 1);
        failures += Check(static_cast<bool>(reset), "connect");
        char byte;
        failures += Check(::recv(reset.get(), &byte, 1, 0) < 0 && errno == ECONNRESET, "reset");
        failures += Check(::setrlimit(RLIMIT_NOFILE, &normal) == 0, "setrlimit back");
        failures += Check(!relay.TakeProxyFailure(), "proxy not reported unreachable");
        failures += Check(proxy.connections() == 0, "nothing reached the proxy");
        // None left: the connection waits in the listener's queue until descriptors are free.
        // A datagram of an associated socket (which needs no descriptor) sent after it is
        // relayed only once the relay has tried to accept it.
        UniqueFd datagrams = ProgramSocket(keys);
        failures += Check(SendText(datagrams.get(), "first"), "send");
        failures += Check(Receive(datagrams.get()) == "first", "associated");
        const int associated = proxy.connections();  // the association's own connection too
        UniqueFd waiting = ProgramConnection(keys, 0);
        failures += Check(static_cast<bool>(waiting), "connect");
        failures += Check(SendText(datagrams.get(), "second"), "send");
        failures += Check(Receive(datagrams.get()) == "second", "relayed after the attempt");
        failures += Check(::setrlimit(RLIMIT_NOFILE, &normal) == 0, "setrlimit back");
        failures += Check(proxy.connections() == associated, "not accepted without descriptors");
        failures += Check(WaitFor([&] { return proxy.connections() == associated + 1; }),
                          "reached the proxy");
        return failures;
      });
}

}  // namespace
