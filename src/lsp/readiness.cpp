#include "lsp/readiness.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/monotonic_clock.h"
#include "lsp/proxy_handshake.h"
#include "lsp/real_calls.h"
#include "lsp/socket_table.h"

namespace {

constexpr nfds_t kStackEntries = 64;

// Copies `fds` into `out`, each pending socket replaced by its eventfd; true when any was.
bool Substitute(const pollfd* fds, nfds_t count, pollfd* out) {
  bool any = false;
  TableLock lock;
  for (nfds_t i = 0; i < count; ++i) {
    out[i] = fds[i];
    SocketEntry* entry = SocketTable::Find(fds[i].fd);
    if (entry && entry->kind == SocketKind::kTcpPending) {
      out[i].fd = entry->done_fd;
      out[i].events = POLLIN;
      any = true;
    }
  }
  return any;
}

int Remaining(int64_t deadline_ms) {
  int64_t left = deadline_ms - NowMs();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

int PollWithPending(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
  const RealCalls& real = Real();
  pollfd stack[kStackEntries];
  pollfd* copy =
      count <= kStackEntries ? stack : static_cast<pollfd*>(std::malloc(count * sizeof(pollfd)));
  if (copy == nullptr) return real.ppoll(fds, count, timeout, mask);
  const int64_t deadline =
      timeout ? NowMs() + timeout->tv_sec * 1000 + timeout->tv_nsec / 1000000 : INT64_MAX;
  int result;
  for (;;) {
    if (!Substitute(fds, count, copy)) {
      if (copy != stack) std::free(copy);
      if (!timeout) return real.ppoll(fds, count, nullptr, mask);
      int left = Remaining(deadline);
      timespec rest{left / 1000, (left % 1000) * 1000000L};
      return real.ppoll(fds, count, &rest, mask);
    }
    timespec rest{};
    if (timeout) {
      int left = Remaining(deadline);
      rest = {left / 1000, (left % 1000) * 1000000L};
    }
    result = real.ppoll(copy, count, timeout ? &rest : nullptr, mask);
    if (result <= 0) {
      if (result == 0)
        for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
      break;
    }
    // An eventfd that fired means the handshake ended: look at the socket itself now.
    result = 0;
    for (nfds_t i = 0; i < count; ++i) {
      fds[i].revents = copy[i].revents;
      if (copy[i].fd != fds[i].fd && copy[i].revents != 0) {
        pollfd now{fds[i].fd, fds[i].events, 0};
        timespec zero{};
        fds[i].revents = real.ppoll(&now, 1, &zero, nullptr) == 1 ? now.revents : 0;
        SocketEntry* entry = SocketTable::Find(fds[i].fd);
        if (entry && entry->kind == SocketKind::kTcpFailed) fds[i].revents |= POLLERR;
      } else if (copy[i].fd != fds[i].fd) {
        fds[i].revents = 0;
      }
      if (fds[i].revents) ++result;
    }
    if (result > 0 || (timeout && Remaining(deadline) == 0)) break;
  }
  if (copy != stack) std::free(copy);
  return result;
}

int SelectWithPending(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                      const timespec* timeout, const sigset_t* mask) {
  if (nfds < 0 || nfds > FD_SETSIZE) {
    errno = EINVAL;
    return -1;
  }
  pollfd fds[FD_SETSIZE];
  nfds_t count = 0;
  for (int fd = 0; fd < nfds; ++fd) {
    short events = 0;
    if (readfds && FD_ISSET(fd, readfds)) events |= POLLIN;
    if (writefds && FD_ISSET(fd, writefds)) events |= POLLOUT;
    if (exceptfds && FD_ISSET(fd, exceptfds)) events |= POLLPRI;
    if (events) fds[count++] = {fd, events, 0};
  }
  int n = PollWithPending(fds, count, timeout, mask);
  if (n < 0) return -1;
  for (fd_set* set : {readfds, writefds, exceptfds})
    if (set) FD_ZERO(set);
  int ready = 0;
  for (nfds_t i = 0; i < count; ++i) {
    short r = fds[i].revents;
    if (r & POLLNVAL) {
      errno = EBADF;
      return -1;
    }
    // As the kernel's select does: an error or hang-up makes a socket readable and writable.
    if (readfds && (fds[i].events & POLLIN) && (r & (POLLIN | POLLHUP | POLLERR))) {
      FD_SET(fds[i].fd, readfds);
      ++ready;
    }
    if (writefds && (fds[i].events & POLLOUT) && (r & (POLLOUT | POLLERR))) {
      FD_SET(fds[i].fd, writefds);
      ++ready;
    }
    if (exceptfds && (fds[i].events & POLLPRI) && (r & POLLPRI)) {
      FD_SET(fds[i].fd, exceptfds);
      ++ready;
    }
  }
  return ready;
}
