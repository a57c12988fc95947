// UDP through the proxy's UDP association. The first datagram a socket sends to a destination
// that goes through the proxy opens the association (a TCP connection to the proxy that lives
// as long as the socket); from then on each datagram to such a destination travels to the
// proxy's relay with the SOCKS5 UDP header, and each datagram from the relay is handed to the
// program without it, with the original sender as its source. Opening the association blocks
// the sending thread for one round trip to the proxy.
#pragma once

#include <sys/socket.h>

#include "lsp/proxy_config.h"

// sendmsg(2) for a UDP socket and a destination (msg_name, or the connect()ed one when
// msg_name is null) that goes through `proxy`.
ssize_t SendThroughRelay(int fd, const msghdr* message, int flags, const ProxyConfig* proxy);

// recvmsg(2) for a socket with an association: strips the header of relayed datagrams.
ssize_t ReceiveFromRelay(int fd, msghdr* message, int flags);

// connect(2) of a UDP socket to a destination that goes through `proxy`: the socket is
// connected to the relay and remembers the destination for send() and getpeername().
int ConnectUdpThroughProxy(int fd, const sockaddr* destination, socklen_t length,
                           const ProxyConfig& proxy);
