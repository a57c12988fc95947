// The C library's own socket calls, found behind the preload library's hooks with
// dlsym(RTLD_NEXT). Everything inside the library that must not loop back into a hook calls
// through here. Resolved once, on first use (no static constructor); thread-safe.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/select.h>
#include <sys/socket.h>

struct RealCalls {
  int (*socket)(int, int, int);
  int (*connect)(int, const sockaddr*, socklen_t);
  int (*dup2)(int, int);
  int (*dup3)(int, int, int);
  int (*getpeername)(int, sockaddr*, socklen_t*);
  int (*getsockopt)(int, int, int, void*, socklen_t*);
  int (*ppoll)(pollfd*, nfds_t, const timespec*, const sigset_t*);
  int (*pselect)(int, fd_set*, fd_set*, fd_set*, const timespec*, const sigset_t*);
  int (*epoll_ctl)(int, int, int, epoll_event*);
  ssize_t (*send)(int, const void*, size_t, int);
  ssize_t (*sendto)(int, const void*, size_t, int, const sockaddr*, socklen_t);
  ssize_t (*sendmsg)(int, const msghdr*, int);
  ssize_t (*recv)(int, void*, size_t, int);
  ssize_t (*recvfrom)(int, void*, size_t, int, sockaddr*, socklen_t*);
  ssize_t (*recvmsg)(int, msghdr*, int);
  int (*sendmmsg)(int, mmsghdr*, unsigned int, int);
  int (*recvmmsg)(int, mmsghdr*, unsigned int, int, timespec*);
};

[[nodiscard]] const RealCalls& Real();

// The calls a process may make before it can look anything up (a memory allocator reading a
// file while it starts, before dlsym could allocate) are reached through the C library's
// public aliases, without dlsym.
extern "C" {
int __close(int);
int __poll(pollfd*, nfds_t, int);
int __select(int, fd_set*, fd_set*, fd_set*, timeval*);
ssize_t __read(int, void*, size_t);
ssize_t __write(int, const void*, size_t);
}

// Set while the library runs its own network code on this thread (asking the acceleration
// pipe, resolving the proxy's name), so that the hooks pass those calls straight through.
class InsideLibrary {
 public:
  InsideLibrary();
  ~InsideLibrary();
  InsideLibrary(const InsideLibrary&) = delete;
  InsideLibrary& operator=(const InsideLibrary&) = delete;
  [[nodiscard]] static bool Active();

 private:
  bool outer_;
};
