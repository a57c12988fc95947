// connect() of a TCP socket through the proxy. A blocking socket blocks as a connect would (up
// to kProxyTimeoutMs) and returns once the proxy has connected it to the destination. A
// non-blocking socket returns EINPROGRESS at once; a helper thread runs the handshake while the
// program waits for writability, which the readiness hooks hold back until the handshake has
// ended. Either way a proxy that fails makes the connect fail with ECONNREFUSED, as a refused
// connection does, and is reported once on standard error.
#pragma once

#include <sys/socket.h>

#include "lsp/proxy_config.h"
#include "lsp/socket_table.h"

// Same contract as connect(2) for `fd`, a TCP socket, and `destination`, an IP address that is
// to go through `proxy`.
int ConnectThroughProxy(int fd, const sockaddr* destination, socklen_t length,
                        const ProxyConfig& proxy);

// connect(2) on a socket whose entry exists: EALREADY while pending, EISCONN once connected.
int ConnectAgain(int fd, const SocketEntry* entry);
