// Whether this process is accelerated, and through which proxy. The library asks the acceleration
// pipe at the first call that needs it, keeps the answer for a second, and asks again at the
// first call after that, so a change in morvil (Stop, Start, another proxy or token, the list of
// programs) reaches the next connections of a running program within about a second. A process
// whose answer is 0, or that cannot reach morvil, gets nullptr and is left alone. Thread-safe; a
// child made by fork starts with its parent's answer, a program started by exec asks anew.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstddef>

struct ProxyConfig {
  sockaddr_storage address{};  // the proxy server
  socklen_t length = 0;
  char server[256] = {};  // as the reply named it, for messages
  unsigned port = 0;
  char token[256] = {};  // username and password alike; may be empty
  size_t token_size = 0;
  // Tests only (MORVIL_LSP_PROXY_LOOPBACK=1): loopback destinations go through the proxy too,
  // so that a whole run can stay on this machine.
  bool proxy_loopback = false;
  // The authentication method this proxy chose on the last handshake, -1 before the first.
  mutable std::atomic<int> chosen_method{-1};
};

// How long an answer is kept before the next call asks again.
inline constexpr long kAnswerKeptMs = 1000;

// The proxy to use, or nullptr when this process is not accelerated. The result stays valid for
// the life of the process (a connection in progress may go on using an earlier answer).
[[nodiscard]] const ProxyConfig* AcceleratedProxy();
