#include "kernel_mode/relay.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/monotonic_clock.h"
#include "base/unique_fd.h"
#include "kernel_mode/socks_handshake.h"
#include "kernel_mode/udp_packet.h"
#include "lsp/destination.h"
#include "lsp/socks5.h"

namespace {

constexpr int64_t kHandshakeTimeoutMs = 15000;
constexpr int64_t kUdpIdleMs = 180000;
// After a failed association, datagrams of that program socket are dropped for this long
// rather than each trying the proxy again.
constexpr int64_t kUdpRetryPauseMs = 1000;
constexpr size_t kMaxQueuedDatagrams = 64;
constexpr int kPipeSize = 1 << 20;
constexpr size_t kMaxSparePipes = 64;
constexpr size_t kMaxDatagram = 65536;
constexpr int kKeepAliveSeconds = 60;

const sockaddr* Sa(const sockaddr_storage& s) {
  return reinterpret_cast<const sockaddr*>(&s);
}

// Closes a TCP socket with a reset, so that the program sees its connection refused or reset
// rather than ended normally.
void Reset(UniqueFd& fd) {
  if (!fd) return;
  linger abort{1, 0};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  fd.reset();
}

void NoDelay(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// No delay, and the program's end of an idle connection probed every kKeepAliveSeconds; set on
// the listeners, whose accepted connections take them over.
bool ProgramSideOptions(int fd) {
  int on = 1, seconds = kKeepAliveSeconds;
  return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
         ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &seconds, sizeof seconds) == 0 &&
         ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &seconds, sizeof seconds) == 0;
}

// The program socket a datagram came from, as a map key.
std::string EndpointKey(const sockaddr_storage& address) {
  return std::string(reinterpret_cast<const char*>(&address), AddressLength(Sa(address)));
}

bool IsUnspecified(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET)
    return reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr == 0;
  if (address.ss_family == AF_INET6)
    return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
  return true;
}

uint16_t PortOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET)
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return 0;
}

// Starts a non-blocking connect to the proxy; an invalid fd on an immediate failure.
UniqueFd ConnectToProxy(const ProxyEndpoint& proxy) {
  UniqueFd fd(::socket(proxy.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return fd;
  NoDelay(fd.get());
  if (::connect(fd.get(), Sa(proxy.address), proxy.length) != 0 && errno != EINPROGRESS) {
    int error = errno;
    fd.reset();
    errno = error;  // for the caller, to tell the proxy's failures from this machine's
  }
  return fd;
}

// An error of this machine's own resources (descriptors, local ports, memory), which says
// nothing of whether the proxy can be reached.
bool LocalShortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM ||
         error == EADDRNOTAVAIL;
}

}  // namespace

struct Relay::Impl {
  struct Pipe {
    UniqueFd read_end, write_end;
    size_t capacity = 0;
  };
  struct Handler {
    virtual ~Handler() = default;
    virtual void OnEvent(int side, uint32_t events) = 0;
    virtual void Sweep(int64_t now) = 0;
    bool dead = false;
  };
  struct Watch {
    Handler* handler;
    int side;
  };

  struct TcpConnection;
  struct UdpAssociation;

  UniqueFd epoll, wake;
  UniqueFd tcp4, udp4, tcp6, udp6, raw4, raw6;
  RelayPorts ports;
  std::atomic<bool>* proxy_failed = nullptr;
  std::mutex proxy_mutex;
  std::optional<ProxyEndpoint> proxy;
  // Empty pipes of ended connections, for the next ones: making a pipe and sizing it costs more
  // than a short connection's whole relaying. Declared before the handlers, which
  // give theirs back when they are destroyed.
  std::vector<Pipe> spare_pipes;
  std::unordered_map<Handler*, std::unique_ptr<Handler>> handlers;
  std::unordered_map<std::string, UdpAssociation*> associations;
  size_t max_associations = kMaxUdpAssociations;
  // Counts the associations' datagrams both ways: the one with the lowest count at its last
  // datagram is the least active.
  uint64_t udp_activity = 0;
  struct {
    std::atomic<uint64_t> waiting{0}, unassociated{0}, sending{0}, answering{0};
  } dropped;
  std::vector<std::unique_ptr<Handler>> graveyard;
  // Room for one datagram with a proxy's header, made once: the relay thread reads every
  // datagram into it.
  std::vector<uint8_t> datagram_buffer =
      std::vector<uint8_t>(kMaxDatagram + socks5::kMaxUdpHeaderSize);
  std::thread thread;
  std::atomic<bool> stopping{false};
  Watch listener_watches[4];
  // Listeners left unwatched until the next sweep: accepting failed for want of descriptors or
  // memory, and a listener with connections waiting would wake the thread again at once.
  std::vector<Watch*> paused_listeners;

  bool Add(int fd, Watch* watch, uint32_t events) {
    epoll_event event{events, {.ptr = watch}};
    return ::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, fd, &event) == 0;
  }
  void Change(int fd, Watch* watch, uint32_t events) {
    epoll_event event{events, {.ptr = watch}};
    ::epoll_ctl(epoll.get(), EPOLL_CTL_MOD, fd, &event);
  }
  void Bury(Handler* handler) {
    if (handler->dead) return;
    handler->dead = true;
    auto found = handlers.find(handler);
    if (found == handlers.end()) return;
    graveyard.push_back(std::move(found->second));
    handlers.erase(found);
  }
  std::optional<ProxyEndpoint> CurrentProxy() {
    std::lock_guard lock(proxy_mutex);
    return proxy;
  }
  void ProxyUnreachable() { proxy_failed->store(true); }
  std::optional<Pipe> TakePipe();
  void GiveBack(Pipe pipe);

  void Run();
  void AcceptTcp(Watch& listener);
  void ReadUdp(int listener);
  void EndLeastActiveAssociation();
  void Answer(const sockaddr_storage& from, const sockaddr_storage& to,
              std::span<const uint8_t> payload);
};

// One caught TCP connection: the program's end (accepted by the relay) and the proxy's.
struct Relay::Impl::TcpConnection final : Handler {
  struct Direction {
    Pipe pipe;
    size_t pending = 0;
    bool eof = false, shut = false;
  };
  enum Side { kProgram = 0, kProxy = 1 };

  TcpConnection(Impl& relay, UniqueFd program, UniqueFd proxy, const sockaddr_storage& target,
                const std::string& token)
      : relay_(relay),
        program_(std::move(program)),
        proxy_(std::move(proxy)),
        handshake_(socks5::kCommandConnect, Sa(target), token),
        deadline_(NowMs() + kHandshakeTimeoutMs) {}

  ~TcpConnection() override {
    for (Direction* d : {&up_, &down_})
      if (d->pipe.read_end && d->pending == 0) relay_.GiveBack(std::move(d->pipe));
  }

  bool Begin() {
    if (!relay_.Add(program_.get(), &program_watch_, 0) ||
        !relay_.Add(proxy_.get(), &proxy_watch_, proxy_events_))
      return false;
    // Over loopback the proxy's connection is often made already: no need to wait for it.
    Handshake();
    return true;
  }

  void OnEvent(int side, uint32_t events) override {
    if (relaying_) return Pump();
    if (side == kProgram) {
      if (events & (EPOLLERR | EPOLLHUP)) Fail(false);
      return;
    }
    if (events & EPOLLERR) return Fail(true);
    Handshake();
  }

  void Sweep(int64_t now) override {
    if (!relaying_ && now >= deadline_) Fail(true);
  }

 private:
  void Handshake() {
    const std::vector<uint8_t>& request = handshake_.request();
    if (request.empty()) return Fail(false);
    while (sent_ < request.size()) {
      ssize_t n = ::send(proxy_.get(), request.data() + sent_, request.size() - sent_,
                         MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent_ += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EAGAIN) return;  // not connected yet, or a full buffer
      return Fail(true);
    }
    WatchFor(proxy_, proxy_watch_, proxy_events_, EPOLLIN);
    while (handshake_.wanted() > 0) {
      uint8_t in[socks5::kMaxReplySize];
      ssize_t n = ::recv(proxy_.get(), in, handshake_.wanted(), MSG_DONTWAIT);
      if (n < 0 && errno == EAGAIN) return;
      // A proxy that closes or resets before answering has not taken the connection.
      if (n <= 0) return Fail(answered_ == 0);
      answered_ += static_cast<size_t>(n);
      handshake_.Feed({in, static_cast<size_t>(n)});
    }
    if (handshake_.state() != SocksHandshake::State::kSucceeded) return Fail(false);
    if (!StartRelaying()) return Fail(false);
    Pump();
  }

  bool StartRelaying() {
    for (Direction* d : {&up_, &down_}) {
      std::optional<Pipe> pipe = relay_.TakePipe();
      if (!pipe) return false;
      d->pipe = std::move(*pipe);
    }
    relaying_ = true;
    return true;
  }

  // Moves what it can in one direction; false on an error of either socket.
  bool Move(Direction& d, int from, int to) {
    for (;;) {
      bool progress = false;
      if (!d.eof && d.pending < d.pipe.capacity) {
        ssize_t n = ::splice(from, nullptr, d.pipe.write_end.get(), nullptr,
                             d.pipe.capacity - d.pending, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n > 0) {
          d.pending += static_cast<size_t>(n);
          progress = true;
        } else if (n == 0) {
          d.eof = true;
          progress = true;
        } else if (errno != EAGAIN) {
          return false;
        }
      }
      if (d.pending > 0) {
        ssize_t n = ::splice(d.pipe.read_end.get(), nullptr, to, nullptr, d.pending,
                             SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n > 0) {
          d.pending -= static_cast<size_t>(n);
          progress = true;
        } else if (n < 0 && errno != EAGAIN) {
          return false;
        }
      }
      if (d.eof && d.pending == 0 && !d.shut) {
        ::shutdown(to, SHUT_WR);
        d.shut = true;
      }
      if (!progress) return true;
    }
  }

  void Pump() {
    if (!Move(up_, program_.get(), proxy_.get()) || !Move(down_, proxy_.get(), program_.get()))
      return Fail(false);
    if (up_.shut && down_.shut) {
      program_.reset();
      proxy_.reset();
      relay_.Bury(this);
      return;
    }
    auto wants = [](const Direction& in, const Direction& out) {
      uint32_t events = 0;
      if (!in.eof && in.pending < in.pipe.capacity) events |= EPOLLIN;
      if (out.pending > 0) events |= EPOLLOUT;
      return events;
    };
    WatchFor(program_, program_watch_, program_events_, wants(up_, down_));
    WatchFor(proxy_, proxy_watch_, proxy_events_, wants(down_, up_));
  }

  // Watches `fd` for `events` when that is not what it is watched for already.
  void WatchFor(const UniqueFd& fd, Watch& watch, uint32_t& watched, uint32_t events) {
    if (events != watched) relay_.Change(fd.get(), &watch, watched = events);
  }

  void Fail(bool proxy_unreachable) {
    if (proxy_unreachable && !relaying_) relay_.ProxyUnreachable();
    Reset(program_);
    Reset(proxy_);
    relay_.Bury(this);
  }

  Impl& relay_;
  UniqueFd program_, proxy_;
  Watch program_watch_{this, kProgram}, proxy_watch_{this, kProxy};
  SocksHandshake handshake_;
  int64_t deadline_;
  bool relaying_ = false;
  size_t sent_ = 0, answered_ = 0;
  Direction up_, down_;
  uint32_t program_events_ = 0, proxy_events_ = EPOLLOUT;
};

// The UDP association of one program socket.
struct Relay::Impl::UdpAssociation final : Handler {
  enum Side { kControl = 0, kDatagrams = 1 };

  UdpAssociation(Impl& relay, std::string key, const sockaddr_storage& program,
                 const ProxyEndpoint& proxy, UniqueFd control)
      : relay_(relay),
        key_(std::move(key)),
        program_(program),
        proxy_(proxy),
        control_(std::move(control)),
        handshake_(socks5::kCommandUdpAssociate, ZeroAddress(proxy.address.ss_family), proxy.token),
        deadline_(NowMs() + kHandshakeTimeoutMs),
        last_active_(NowMs()) {}

  bool Begin() { return relay_.Add(control_.get(), &control_watch_, EPOLLOUT); }

  // A datagram of the program for `target`.
  void Send(const sockaddr_storage& target, std::span<const uint8_t> payload) {
    if (failed_until_ != 0) {  // dropped while the proxy is not to be tried again
      ++relay_.dropped.unassociated;
      return;
    }
    Active();
    if (!datagrams_) {
      if (queue_.size() < kMaxQueuedDatagrams)
        queue_.emplace_back(target, std::vector<uint8_t>(payload.begin(), payload.end()));
      else
        ++relay_.dropped.waiting;
      return;
    }
    uint8_t header[socks5::kMaxUdpHeaderSize];
    size_t size = socks5::BuildUdpHeader(header, Sa(target));
    iovec parts[2] = {{header, size}, {const_cast<uint8_t*>(payload.data()), payload.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    if (size == 0 || ::sendmsg(datagrams_.get(), &message, MSG_DONTWAIT | MSG_NOSIGNAL) < 0)
      ++relay_.dropped.sending;
  }

  uint64_t last_activity() const { return last_activity_; }

  // Ends the association; answers still on their way to it are lost.
  void End() {
    relay_.associations.erase(key_);
    control_.reset();
    datagrams_.reset();
    relay_.Bury(this);
  }

  void OnEvent(int side, uint32_t events) override {
    if (side == kDatagrams) return Receive();
    if (!ready_) return Handshake(events);
    // The association lasts as long as its control connection.
    uint8_t ignored[256];
    ssize_t n = ::recv(control_.get(), ignored, sizeof ignored, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN)) End();
  }

  void Sweep(int64_t now) override {
    if (failed_until_ != 0) {
      if (now >= failed_until_) End();
    } else if (!ready_ && now >= deadline_) {
      Failed(true);
    } else if (now - last_active_ >= kUdpIdleMs) {
      End();
    }
  }

 private:
  static const sockaddr* ZeroAddress(int family) {
    static sockaddr_in v4{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {}, .sin_zero = {}};
    static sockaddr_in6 v6{.sin6_family = AF_INET6,
                           .sin6_port = 0,
                           .sin6_flowinfo = 0,
                           .sin6_addr = {},
                           .sin6_scope_id = 0};
    return family == AF_INET6 ? reinterpret_cast<const sockaddr*>(&v6)
                              : reinterpret_cast<const sockaddr*>(&v4);
  }

  void Handshake(uint32_t events) {
    if (!connected_) {
      int error = 0;
      socklen_t length = sizeof error;
      if (::getsockopt(control_.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0 ||
          (events & EPOLLERR))
        return Failed(true);
      if (!(events & EPOLLOUT)) return;
      connected_ = true;
      const std::vector<uint8_t>& request = handshake_.request();
      // The request is far smaller than a fresh socket's buffer.
      if (request.empty() ||
          ::send(control_.get(), request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
              static_cast<ssize_t>(request.size()))
        return Failed(false);
      relay_.Change(control_.get(), &control_watch_, EPOLLIN);
      return;
    }
    while (handshake_.wanted() > 0) {
      uint8_t in[socks5::kMaxReplySize];
      ssize_t n = ::recv(control_.get(), in, handshake_.wanted(), MSG_DONTWAIT);
      if (n < 0 && errno == EAGAIN) return;
      if (n <= 0) return Failed(answered_ == 0);
      answered_ += static_cast<size_t>(n);
      handshake_.Feed({in, static_cast<size_t>(n)});
    }
    if (handshake_.state() != SocksHandshake::State::kSucceeded) return Failed(false);
    // The proxy's datagram endpoint; an unspecified address means the proxy's own.
    sockaddr_storage endpoint = handshake_.bound();
    if (PortOf(endpoint) == 0) return Failed(false);
    if (IsUnspecified(endpoint)) {
      uint16_t port = htons(PortOf(endpoint));
      endpoint = proxy_.address;
      if (endpoint.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(endpoint).sin_port = port;
      else
        reinterpret_cast<sockaddr_in6&>(endpoint).sin6_port = port;
    }
    datagrams_.reset(::socket(endpoint.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!datagrams_ ||
        ::connect(datagrams_.get(), Sa(endpoint), AddressLength(Sa(endpoint))) != 0 ||
        !relay_.Add(datagrams_.get(), &datagram_watch_, EPOLLIN))
      return Failed(false);
    ready_ = true;
    std::deque<std::pair<sockaddr_storage, std::vector<uint8_t>>> queued;
    queued.swap(queue_);
    for (auto& [target, payload] : queued) Send(target, payload);
  }

  void Receive() {
    std::vector<uint8_t>& buffer = relay_.datagram_buffer;
    for (int i = 0; i < 64; ++i) {
      ssize_t n = ::recv(datagrams_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (n < 0) return;
      std::span<const uint8_t> datagram(buffer.data(), static_cast<size_t>(n));
      socks5::UdpHeader header;
      if (socks5::ParseUdpHeader(datagram, header) != socks5::Parse::kOk) continue;
      sockaddr_storage from;
      socklen_t length = 0;
      if (!ConvertToFamily(Sa(header.source), program_.ss_family, from, length)) continue;
      Active();
      relay_.Answer(from, program_, datagram.subspan(header.size));
    }
  }

  void Active() {
    last_active_ = NowMs();
    last_activity_ = ++relay_.udp_activity;
  }

  void Failed(bool proxy_unreachable) {
    if (proxy_unreachable) relay_.ProxyUnreachable();
    relay_.dropped.unassociated += queue_.size();
    queue_.clear();
    Reset(control_);
    datagrams_.reset();
    failed_until_ = NowMs() + kUdpRetryPauseMs;
  }

  Impl& relay_;
  std::string key_;
  sockaddr_storage program_;
  ProxyEndpoint proxy_;
  UniqueFd control_, datagrams_;
  Watch control_watch_{this, kControl}, datagram_watch_{this, kDatagrams};
  SocksHandshake handshake_;
  int64_t deadline_, last_active_, failed_until_ = 0;
  uint64_t last_activity_ = ++relay_.udp_activity;
  bool connected_ = false, ready_ = false;
  size_t answered_ = 0;
  std::deque<std::pair<sockaddr_storage, std::vector<uint8_t>>> queue_;
};

std::optional<Relay::Impl::Pipe> Relay::Impl::TakePipe() {
  if (!spare_pipes.empty()) {
    Pipe pipe = std::move(spare_pipes.back());
    spare_pipes.pop_back();
    return pipe;
  }
  int ends[2];
  if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return std::nullopt;
  Pipe pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
  ::fcntl(ends[1], F_SETPIPE_SZ, kPipeSize);
  int capacity = ::fcntl(ends[1], F_GETPIPE_SZ);
  if (capacity <= 0) return std::nullopt;
  pipe.capacity = static_cast<size_t>(capacity);
  return pipe;
}

void Relay::Impl::GiveBack(Pipe pipe) {
  if (spare_pipes.size() < kMaxSparePipes) spare_pipes.push_back(std::move(pipe));
}

void Relay::Impl::AcceptTcp(Watch& listener) {
  for (int i = 0; i < 256; ++i) {
    UniqueFd program(::accept4(listener.side, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!program) {
      if (LocalShortage(errno)) {
        Change(listener.side, &listener, 0);
        paused_listeners.push_back(&listener);
      }
      return;
    }
    // The local address of a transparently accepted connection is where the program connected.
    sockaddr_storage target{};
    socklen_t length = sizeof target;
    if (::getsockname(program.get(), reinterpret_cast<sockaddr*>(&target), &length) != 0 ||
        IsDirectDestination(Sa(target), false)) {
      Reset(program);  // also a connection made to the listener itself
      continue;
    }
    std::optional<ProxyEndpoint> current = CurrentProxy();
    UniqueFd proxy_fd;
    if (current) proxy_fd = ConnectToProxy(*current);
    if (!proxy_fd) {
      // A shortage of this machine's descriptors or ports says nothing of the proxy.
      if (current && !LocalShortage(errno)) ProxyUnreachable();
      Reset(program);
      continue;
    }
    auto connection = std::make_unique<TcpConnection>(*this, std::move(program),
                                                      std::move(proxy_fd), target, current->token);
    TcpConnection* raw = connection.get();
    handlers.emplace(raw, std::move(connection));
    if (!raw->Begin()) Bury(raw);
  }
}

void Relay::Impl::ReadUdp(int listener) {
  std::vector<uint8_t>& buffer = datagram_buffer;
  for (int i = 0; i < 256; ++i) {
    sockaddr_storage source{};
    alignas(cmsghdr) char control[256];
    iovec part{buffer.data(), kMaxDatagram};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(listener, &message, MSG_DONTWAIT);
    if (n < 0) return;
    if (message.msg_flags & MSG_TRUNC) continue;
    sockaddr_storage target{};
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      bool v4 = c->cmsg_level == SOL_IP && c->cmsg_type == IP_ORIGDSTADDR;
      bool v6 = c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_ORIGDSTADDR;
      size_t size = v4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
      if ((v4 || v6) && c->cmsg_len >= CMSG_LEN(size)) std::memcpy(&target, CMSG_DATA(c), size);
    }
    if (target.ss_family == AF_UNSPEC || IsDirectDestination(Sa(target), false)) continue;
    std::string key = EndpointKey(source);
    auto found = associations.find(key);
    UdpAssociation* association = found == associations.end() ? nullptr : found->second;
    if (association == nullptr) {
      std::optional<ProxyEndpoint> current = CurrentProxy();
      if (!current) {
        ++dropped.unassociated;
        continue;
      }
      // Program sockets that closed keep their association until it has been idle for long:
      // the least active one makes room, rather than a socket in use going unserved.
      if (associations.size() >= max_associations) EndLeastActiveAssociation();
      UniqueFd control = ConnectToProxy(*current);
      if (!control) {
        if (!LocalShortage(errno)) ProxyUnreachable();
        ++dropped.unassociated;
        continue;
      }
      auto created =
          std::make_unique<UdpAssociation>(*this, key, source, *current, std::move(control));
      association = created.get();
      handlers.emplace(association, std::move(created));
      associations.emplace(key, association);
      if (!association->Begin()) {
        associations.erase(key);
        Bury(association);
        ++dropped.unassociated;
        continue;
      }
    }
    association->Send(target, {buffer.data(), static_cast<size_t>(n)});
  }
}

void Relay::Impl::EndLeastActiveAssociation() {
  UdpAssociation* least = nullptr;
  for (const auto& [key, association] : associations)
    if (least == nullptr || association->last_activity() < least->last_activity())
      least = association;
  if (least != nullptr) least->End();
}

void Relay::Impl::Answer(const sockaddr_storage& from, const sockaddr_storage& to,
                         std::span<const uint8_t> payload) {
  std::vector<uint8_t> packet = BuildUdpPacket(Sa(from), Sa(to), payload);
  if (packet.empty()) {
    ++dropped.answering;
    return;
  }
  sockaddr_storage destination = to;
  // A raw socket takes the destination's address only; the port travels in the packet.
  if (destination.ss_family == AF_INET6)
    reinterpret_cast<sockaddr_in6&>(destination).sin6_port = 0;
  else
    reinterpret_cast<sockaddr_in&>(destination).sin_port = 0;
  int raw = to.ss_family == AF_INET6 ? raw6.get() : raw4.get();
  if (::sendto(raw, packet.data(), packet.size(), MSG_DONTWAIT, Sa(destination),
               AddressLength(Sa(destination))) < 0)
    ++dropped.answering;
}

void Relay::Impl::Run() {
  int64_t last_sweep = NowMs();
  for (;;) {
    epoll_event events[64];
    int n = ::epoll_wait(epoll.get(), events, 64, 1000);
    if (stopping.load()) return;
    for (int i = 0; i < n; ++i) {
      auto* watch = static_cast<Watch*>(events[i].data.ptr);
      if (watch == nullptr) continue;  // the wake-up: `stopping` is set
      if (watch->handler == nullptr) {
        int listener = watch->side;
        if (listener == tcp4.get() || listener == tcp6.get())
          AcceptTcp(*watch);
        else
          ReadUdp(listener);
        continue;
      }
      if (!watch->handler->dead) watch->handler->OnEvent(watch->side, events[i].events);
    }
    graveyard.clear();
    int64_t now = NowMs();
    if (now - last_sweep >= 1000) {
      last_sweep = now;
      for (Watch* listener : paused_listeners) Change(listener->side, listener, EPOLLIN);
      paused_listeners.clear();
      std::vector<Handler*> all;
      for (auto& [raw, owned] : handlers) all.push_back(raw);
      for (Handler* handler : all)
        if (!handler->dead) handler->Sweep(now);
      graveyard.clear();
    }
  }
}

namespace {

bool Mark(int fd, uint32_t mark) {
  return ::setsockopt(fd, SOL_SOCKET, SO_MARK, &mark, sizeof mark) == 0;
}

// A transparent listener on loopback of `family`, with `mark`; its port in `port`.
UniqueFd Listen(int family, int type, uint32_t mark, uint16_t& port) {
  UniqueFd fd(::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd || !Mark(fd.get(), mark)) return UniqueFd();
  int on = 1;
  bool v6 = family == AF_INET6;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (v6) ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  bool transparent = v6 ? ::setsockopt(fd.get(), SOL_IPV6, IPV6_TRANSPARENT, &on, sizeof on) == 0
                        : ::setsockopt(fd.get(), SOL_IP, IP_TRANSPARENT, &on, sizeof on) == 0;
  if (!transparent) return UniqueFd();
  if (type == SOCK_DGRAM) {
    if (v6 ? ::setsockopt(fd.get(), SOL_IPV6, IPV6_RECVORIGDSTADDR, &on, sizeof on) != 0
           : ::setsockopt(fd.get(), SOL_IP, IP_RECVORIGDSTADDR, &on, sizeof on) != 0)
      return UniqueFd();
  }
  sockaddr_storage address{};
  socklen_t length = 0;
  if (v6) {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
    in6.sin6_family = AF_INET6;
    in6.sin6_addr = in6addr_loopback;
    length = sizeof in6;
  } else {
    auto& in4 = reinterpret_cast<sockaddr_in&>(address);
    in4.sin_family = AF_INET;
    in4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof in4;
  }
  if (::bind(fd.get(), Sa(address), length) != 0) return UniqueFd();
  if (type == SOCK_STREAM && (!ProgramSideOptions(fd.get()) || ::listen(fd.get(), 1024) != 0))
    return UniqueFd();
  length = sizeof address;
  if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return UniqueFd();
  port = PortOf(address);
  return fd;
}

}  // namespace

Result<std::unique_ptr<Relay>> Relay::Start(uint32_t mark, size_t max_udp_associations) {
  auto impl = std::make_unique<Impl>();
  impl->max_associations = max_udp_associations;
  impl->epoll.reset(::epoll_create1(EPOLL_CLOEXEC));
  impl->wake.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!impl->epoll || !impl->wake) return Error::FromErrno("epoll");
  impl->tcp4 = Listen(AF_INET, SOCK_STREAM, mark, impl->ports.tcp4);
  impl->udp4 = Listen(AF_INET, SOCK_DGRAM, mark, impl->ports.udp4);
  if (!impl->tcp4 || !impl->udp4) return Error::FromErrno("transparent listener");
  impl->tcp6 = Listen(AF_INET6, SOCK_STREAM, mark, impl->ports.tcp6);
  impl->udp6 = Listen(AF_INET6, SOCK_DGRAM, mark, impl->ports.udp6);
  if (!impl->tcp6 || !impl->udp6) impl->ports.tcp6 = impl->ports.udp6 = 0;  // no IPv6 here
  impl->raw4.reset(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
  impl->raw6.reset(::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
  if (!impl->raw4 || !Mark(impl->raw4.get(), mark) || (impl->raw6 && !Mark(impl->raw6.get(), mark)))
    return Error::FromErrno("raw socket");
  epoll_event wake{EPOLLIN, {.ptr = nullptr}};
  if (::epoll_ctl(impl->epoll.get(), EPOLL_CTL_ADD, impl->wake.get(), &wake) != 0)
    return Error::FromErrno("epoll_ctl");
  int i = 0;
  for (UniqueFd* listener : {&impl->tcp4, &impl->udp4, &impl->tcp6, &impl->udp6}) {
    if (!*listener) continue;
    impl->listener_watches[i] = {nullptr, listener->get()};
    if (!impl->Add(listener->get(), &impl->listener_watches[i++], EPOLLIN))
      return Error::FromErrno("epoll_ctl");
  }
  std::unique_ptr<Relay> relay(new Relay(std::move(impl)));
  relay->impl_->proxy_failed = &relay->proxy_failed_;
  relay->impl_->thread = std::thread([raw = relay->impl_.get()] { raw->Run(); });
  return relay;
}

Relay::Relay(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Relay::~Relay() {
  impl_->stopping.store(true);
  // The wake-up ends the thread's wait at once; without it the thread sees `stopping` within
  // its wait's time-out.
  uint64_t one = 1;
  if (::write(impl_->wake.get(), &one, sizeof one) != sizeof one)
    std::perror("morvil-kernel: relay wake-up");
  impl_->thread.join();
}

RelayPorts Relay::ports() const {
  return impl_->ports;
}

void Relay::SetProxy(std::optional<ProxyEndpoint> proxy) {
  std::lock_guard lock(impl_->proxy_mutex);
  impl_->proxy = std::move(proxy);
}

UdpDrops Relay::udp_drops() const {
  return {impl_->dropped.waiting.load(), impl_->dropped.unassociated.load(),
          impl_->dropped.sending.load(), impl_->dropped.answering.load()};
}
