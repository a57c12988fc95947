// Which destinations an accelerated process reaches directly rather than through the proxy.
// Pure functions; thread-safe.
#pragma once

#include <sys/socket.h>

// True for addresses that never leave this machine or its link: loopback (unless
// `proxy_loopback`), the unspecified address, link-local, multicast and the IPv4 broadcast
// address. IPv4-mapped IPv6 addresses are judged as IPv4. Other families count as local.
[[nodiscard]] bool IsDirectDestination(const sockaddr* address, bool proxy_loopback);

// Same family, address and port (IPv4-mapped IPv6 equal to IPv4).
[[nodiscard]] bool SameEndpoint(const sockaddr* a, const sockaddr* b);

// `address` as a socket address of `family`: IPv4 becomes IPv4-mapped IPv6; IPv6 becomes IPv4
// only when it is IPv4-mapped. False when it cannot be expressed.
[[nodiscard]] bool ConvertToFamily(const sockaddr* address, int family, sockaddr_storage& out,
                                   socklen_t& length);

// sizeof the address structure of an IP family, 0 for another.
[[nodiscard]] socklen_t AddressLength(const sockaddr* address);
