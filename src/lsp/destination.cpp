#include "lsp/destination.h"

#include <netinet/in.h>

#include <cstring>

namespace {

bool IsMapped(const in6_addr& a) {
  return IN6_IS_ADDR_V4MAPPED(&a);
}

uint32_t MappedIpv4(const in6_addr& a) {
  uint32_t v4;
  std::memcpy(&v4, &a.s6_addr[12], 4);
  return ntohl(v4);
}

bool IsDirectIpv4(uint32_t a, bool proxy_loopback) {
  if ((a >> 24) == 127) return !proxy_loopback;
  return a == 0 || (a >> 16) == 0xa9fe /* 169.254/16 */ || (a >> 28) == 0xe /* 224/4 */ ||
         a == 0xffffffffu;
}

// Family, IPv4 address (host order) or IPv6 address, port.
struct Endpoint {
  bool v4 = false;
  uint32_t ipv4 = 0;
  in6_addr ipv6{};
  in_port_t port = 0;
};

bool ToEndpoint(const sockaddr* address, Endpoint& out) {
  if (address->sa_family == AF_INET) {
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(address);
    out.v4 = true;
    out.ipv4 = ntohl(in4->sin_addr.s_addr);
    out.port = in4->sin_port;
    return true;
  }
  if (address->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    out.v4 = IsMapped(in6->sin6_addr);
    if (out.v4) out.ipv4 = MappedIpv4(in6->sin6_addr);
    out.ipv6 = in6->sin6_addr;
    out.port = in6->sin6_port;
    return true;
  }
  return false;
}

}  // namespace

bool IsDirectDestination(const sockaddr* address, bool proxy_loopback) {
  Endpoint e;
  if (!ToEndpoint(address, e)) return true;
  if (e.v4) return IsDirectIpv4(e.ipv4, proxy_loopback);
  const in6_addr& a = e.ipv6;
  if (IN6_IS_ADDR_LOOPBACK(&a)) return !proxy_loopback;
  return IN6_IS_ADDR_UNSPECIFIED(&a) || IN6_IS_ADDR_LINKLOCAL(&a) || IN6_IS_ADDR_MULTICAST(&a);
}

bool SameEndpoint(const sockaddr* a, const sockaddr* b) {
  Endpoint x, y;
  if (!ToEndpoint(a, x) || !ToEndpoint(b, y) || x.port != y.port || x.v4 != y.v4) return false;
  return x.v4 ? x.ipv4 == y.ipv4 : std::memcmp(&x.ipv6, &y.ipv6, sizeof x.ipv6) == 0;
}

bool ConvertToFamily(const sockaddr* address, int family, sockaddr_storage& out,
                     socklen_t& length) {
  std::memset(&out, 0, sizeof out);
  Endpoint e;
  if (!ToEndpoint(address, e)) return false;
  if (family == AF_INET6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = e.port;
    if (address->sa_family == AF_INET6) {
      std::memcpy(in6, address, sizeof *in6);
    } else {
      in6->sin6_addr.s6_addr[10] = in6->sin6_addr.s6_addr[11] = 0xff;
      uint32_t v4 = htonl(e.ipv4);
      std::memcpy(&in6->sin6_addr.s6_addr[12], &v4, 4);
    }
    length = sizeof(sockaddr_in6);
    return true;
  }
  if (family == AF_INET && e.v4) {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&out);
    in4->sin_family = AF_INET;
    in4->sin_port = e.port;
    in4->sin_addr.s_addr = htonl(e.ipv4);
    length = sizeof(sockaddr_in);
    return true;
  }
  return false;
}

socklen_t AddressLength(const sockaddr* address) {
  if (address->sa_family == AF_INET) return sizeof(sockaddr_in);
  if (address->sa_family == AF_INET6) return sizeof(sockaddr_in6);
  return 0;
}
