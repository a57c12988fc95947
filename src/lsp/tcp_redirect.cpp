#include "lsp/tcp_redirect.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/monotonic_clock.h"
#include "lsp/destination.h"
#include "lsp/failure_report.h"
#include "lsp/proxy_handshake.h"
#include "lsp/real_calls.h"
#include "lsp/socks5.h"

namespace {

int SocketFamily(int fd) {
  int family = AF_UNSPEC;
  socklen_t length = sizeof family;
  if (Real().getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &family, &length) != 0) return AF_UNSPEC;
  return family;
}

// The proxy's address in the family of `fd`. An IPv4 socket cannot reach an IPv6 proxy: it is
// replaced in place by an IPv6 socket with the same status flags.
bool ProxyAddressFor(int fd, const ProxyConfig& proxy, sockaddr_storage& address,
                     socklen_t& length) {
  int family = SocketFamily(fd);
  if (ConvertToFamily(reinterpret_cast<const sockaddr*>(&proxy.address), family, address, length))
    return true;
  int status = fcntl(fd, F_GETFL);
  int descriptor = fcntl(fd, F_GETFD);
  int replacement = Real().socket(proxy.address.ss_family, SOCK_STREAM, 0);
  if (status < 0 || descriptor < 0 || replacement < 0) return false;
  bool ok = fcntl(replacement, F_SETFL, status) == 0 &&
            Real().dup3(replacement, fd, (descriptor & FD_CLOEXEC) ? O_CLOEXEC : 0) == fd;
  __close(replacement);
  if (!ok) return false;
  std::memcpy(&address, &proxy.address, proxy.length);
  length = proxy.length;
  return true;
}

int Fail(const ProxyConfig& proxy, const char* what, int error) {
  ReportProxyFailure(proxy, what, error);
  errno = ECONNREFUSED;
  return -1;
}

void Remember(SocketEntry& entry, SocketKind kind, const sockaddr* destination, socklen_t length) {
  std::memcpy(&entry.destination, destination, length);
  entry.destination_length = length;
  entry.kind.store(kind, std::memory_order_release);
}

int ConnectBlocking(int fd, int status, const sockaddr* destination, socklen_t length,
                    const sockaddr_storage& proxy_address, socklen_t proxy_length,
                    const ProxyConfig& proxy) {
  // Connect without blocking, so that an unreachable proxy costs at most our own time-out
  // rather than the kernel's minutes of retries.
  if (fcntl(fd, F_SETFL, status | O_NONBLOCK) != 0) return Fail(proxy, "connect", errno);
  int64_t deadline = NowMs() + kProxyTimeoutMs;
  int error = 0;
  if (Real().connect(fd, reinterpret_cast<const sockaddr*>(&proxy_address), proxy_length) != 0)
    error = errno == EINPROGRESS ? WaitConnected(fd, deadline) : errno;
  if (error == 0)
    error = Socks5Handshake(fd, proxy, socks5::kCommandConnect, destination, nullptr, deadline);
  (void)fcntl(fd, F_SETFL, status);
  if (error != 0) {
    ::shutdown(fd, SHUT_RDWR);
    return Fail(proxy, "connect", error);
  }
  TableLock lock;
  if (SocketEntry* entry = SocketTable::Claim(fd))
    Remember(*entry, SocketKind::kTcpProxied, destination, length);
  return 0;
}

struct PendingConnect {
  int fd;      // the program's descriptor, for the table
  int own_fd;  // our duplicate, valid however the program treats `fd`
  uint32_t generation;
  sockaddr_storage destination;
  const ProxyConfig* proxy;
};

void FinishPending(const PendingConnect& job, int error) {
  if (error != 0) {
    ::shutdown(job.own_fd, SHUT_RDWR);
    ReportProxyFailure(*job.proxy, "connect", error);
  }
  TableLock lock;
  SocketEntry* entry = SocketTable::Find(job.fd);
  if (entry == nullptr || entry->generation != job.generation ||
      entry->kind.load() != SocketKind::kTcpPending)
    return;  // the program closed the socket meanwhile
  entry->error_to_report = error == 0 ? 0 : ECONNREFUSED;
  entry->kind.store(error == 0 ? SocketKind::kTcpProxied : SocketKind::kTcpFailed);
  SocketTable::pending.fetch_sub(1);
  // Registrations made while pending listened for nothing; now they get their real events,
  // and re-arming makes epoll report what is ready at once.
  for (int i = 0; i < entry->registration_count; ++i) {
    EpollRegistration& r = entry->registrations[i];
    (void)Real().epoll_ctl(r.epoll_fd, EPOLL_CTL_MOD, job.fd, &r.event);
  }
  uint64_t one = 1;
  (void)!__write(entry->done_fd, &one, sizeof one);
}

void* RunPending(void* argument) {
  auto* job = static_cast<PendingConnect*>(argument);
  int64_t deadline = NowMs() + kProxyTimeoutMs;
  int error = WaitConnected(job->own_fd, deadline);
  if (error == 0)
    error =
        Socks5Handshake(job->own_fd, *job->proxy, socks5::kCommandConnect,
                        reinterpret_cast<const sockaddr*>(&job->destination), nullptr, deadline);
  FinishPending(*job, error);
  __close(job->own_fd);
  std::free(job);
  return nullptr;
}

bool StartHelper(PendingConnect* job) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, 128 * 1024);
  // The helper must not take signals meant for the program's own threads.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_t thread;
  bool started = pthread_create(&thread, &attributes, RunPending, job) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  pthread_attr_destroy(&attributes);
  return started;
}

int ConnectNonBlocking(int fd, const sockaddr* destination, socklen_t length,
                       const sockaddr_storage& proxy_address, socklen_t proxy_length,
                       const ProxyConfig& proxy) {
  if (Real().connect(fd, reinterpret_cast<const sockaddr*>(&proxy_address), proxy_length) != 0 &&
      errno != EINPROGRESS)
    return Fail(proxy, "connect", errno);
  auto* job = static_cast<PendingConnect*>(std::calloc(1, sizeof(PendingConnect)));
  int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  int done = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  SocketTable::Lock();
  SocketEntry* entry = SocketTable::Claim(fd);
  if (job == nullptr || own < 0 || done < 0 || entry == nullptr) {
    SocketTable::Unlock();
    if (own >= 0) __close(own);
    if (done >= 0) __close(done);
    std::free(job);
    ::shutdown(fd, SHUT_RDWR);
    return Fail(proxy, "connect", ENOMEM);
  }
  *job = PendingConnect{fd, own, entry->generation, {}, &proxy};
  std::memcpy(&job->destination, destination, length);
  entry->done_fd = done;
  entry->registration_count = 0;
  SocketTable::pending.fetch_add(1);
  Remember(*entry, SocketKind::kTcpPending, destination, length);
  SocketTable::Unlock();
  if (!StartHelper(job)) RunPending(job);  // no thread to be had: finish here, blocking
  errno = EINPROGRESS;
  return -1;
}

}  // namespace

int ConnectThroughProxy(int fd, const sockaddr* destination, socklen_t length,
                        const ProxyConfig& proxy) {
  sockaddr_storage proxy_address;
  socklen_t proxy_length = 0;
  if (!ProxyAddressFor(fd, proxy, proxy_address, proxy_length))
    return Fail(proxy, "address family", EAFNOSUPPORT);
  int status = fcntl(fd, F_GETFL);
  if (status < 0) return -1;
  if (status & O_NONBLOCK)
    return ConnectNonBlocking(fd, destination, length, proxy_address, proxy_length, proxy);
  return ConnectBlocking(fd, status, destination, length, proxy_address, proxy_length, proxy);
}

int ConnectAgain(int fd, const SocketEntry* entry) {
  switch (entry->kind.load()) {
    case SocketKind::kTcpPending:
      errno = EALREADY;
      return -1;
    case SocketKind::kTcpProxied:
      errno = EISCONN;
      return -1;
    default:
      errno = ECONNREFUSED;
      return -1;
  }
}
