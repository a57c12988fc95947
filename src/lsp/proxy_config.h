// Whether this process is accelerated, decided once per process: at the first call that needs
// it, the library asks the acceleration pipe and keeps the answer. A process whose answer is 0,
// or that cannot reach morvil, gets nullptr and is left alone. Thread-safe; a child made by
// fork keeps its parent's decision, a program started by exec decides anew.
#pragma once

#include <sys/socket.h>

#include <cstddef>

struct ProxyConfig {
  sockaddr_storage address{};  // the proxy server
  socklen_t length = 0;
  char server[256] = {};  // as the reply named it, for messages
  unsigned port = 0;
  char token[256] = {};  // username and password alike
  size_t token_size = 0;
  // Tests only (MORVIL_LSP_PROXY_LOOPBACK=1): loopback destinations go through the proxy too,
  // so that a whole run can stay on this machine.
  bool proxy_loopback = false;
};

// The proxy to use, or nullptr when this process is not accelerated.
[[nodiscard]] const ProxyConfig* AcceleratedProxy();
