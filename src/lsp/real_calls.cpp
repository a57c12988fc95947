#include "lsp/real_calls.h"

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>

namespace {

RealCalls g_real;
pthread_once_t g_resolved = PTHREAD_ONCE_INIT;
__thread bool t_inside = false;

template <typename F>
void Resolve(F& slot, const char* name) {
  slot = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
  if (slot == nullptr) {
    // Without the C library's own call the process cannot go on sanely.
    static const char kMessage[] = "sorvan_lsp: a C library socket call is missing\n";
    (void)!__write(2, kMessage, sizeof kMessage - 1);
    ::abort();
  }
}

void ResolveAll() {
  Resolve(g_real.socket, "socket");
  Resolve(g_real.connect, "connect");
  Resolve(g_real.dup2, "dup2");
  Resolve(g_real.dup3, "dup3");
  Resolve(g_real.getpeername, "getpeername");
  Resolve(g_real.getsockopt, "getsockopt");
  Resolve(g_real.ppoll, "ppoll");
  Resolve(g_real.pselect, "pselect");
  Resolve(g_real.epoll_ctl, "epoll_ctl");
  Resolve(g_real.send, "send");
  Resolve(g_real.sendto, "sendto");
  Resolve(g_real.sendmsg, "sendmsg");
  Resolve(g_real.recv, "recv");
  Resolve(g_real.recvfrom, "recvfrom");
  Resolve(g_real.recvmsg, "recvmsg");
  Resolve(g_real.sendmmsg, "sendmmsg");
  Resolve(g_real.recvmmsg, "recvmmsg");
}

}  // namespace

const RealCalls& Real() {
  pthread_once(&g_resolved, ResolveAll);
  return g_real;
}

InsideLibrary::InsideLibrary() : outer_(t_inside) {
  t_inside = true;
}

InsideLibrary::~InsideLibrary() {
  t_inside = outer_;
}

bool InsideLibrary::Active() {
  return t_inside;
}
