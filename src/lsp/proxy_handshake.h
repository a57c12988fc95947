// Talks to the proxy over a socket already connecting or connected to it. With a token it offers
// username/password (the token as both) and no authentication, without one no authentication
// only. The SOCKS5 steps (method, username/password when chosen, request) are sent at once and
// their answers read in turn whenever the proxy's choice is known beforehand (always without a
// token; with one, once the proxy has chosen on an earlier connection), so a handshake costs one
// round trip; otherwise the rest follows the proxy's choice. Works on blocking and non-blocking
// sockets alike: it sends and receives without blocking and waits with poll up to a deadline. Reads
// exactly the proxy's answers, never the destination's first bytes. Thread-safe per socket.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "lsp/proxy_config.h"

// Waits until the socket's connect to the proxy has ended; 0 when connected, else the error
// (ETIMEDOUT once `deadline_ms` passed).
[[nodiscard]] int WaitConnected(int fd, int64_t deadline_ms);

// Runs the handshake for `command` with `target`; 0 on success (with the proxy's bound address
// in `bound` when given), ECONNREFUSED when the proxy refused, ETIMEDOUT, or the socket's error.
[[nodiscard]] int Socks5Handshake(int fd, const ProxyConfig& proxy, uint8_t command,
                                  const sockaddr* target, sockaddr_storage* bound,
                                  int64_t deadline_ms);

// How long a connect through the proxy may take in all.
inline constexpr int64_t kProxyTimeoutMs = 15000;
