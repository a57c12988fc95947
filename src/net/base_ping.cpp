#include "net/base_ping.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "platform/ansi_codec.h"

namespace {

struct AddrinfoFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

bool Contains(const Text& text, TextView part) {
  return text.find(part) != Text::npos;
}

}  // namespace

uint32_t CBasePing::ResolveByAddress(const Text& host) {
  std::optional<std::string> ansi = EncodeAnsi(host);
  m_dwAddress = ansi ? inet_addr(ansi->c_str()) : INADDR_NONE;
  return m_dwAddress;
}

uint32_t CBasePing::ResolveByName(const Text& host) {
  std::optional<std::string> ansi = EncodeAnsi(host);
  if (!ansi) return 0;
  std::optional<uint32_t> address = m_lookUp(*ansi);
  if (!address) return 0;
  m_dwAddress = *address;
  return m_dwAddress;
}

std::optional<uint32_t> CBasePing::LookUpIpv4(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_RAW;
  addrinfo* raw = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &raw) != 0 || !raw) return std::nullopt;
  std::unique_ptr<addrinfo, AddrinfoFree> list(raw);
  return reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
}

int32_t CBasePing::Resolve(const Text& host) {
  if (Contains(host, u"http://") || Contains(host, u"www."))
    return ResolveByName(host) == 0 ? -1 : 0;
  std::optional<std::string> ansi = EncodeAnsi(host);
  in_addr parsed;
  if (ansi && inet_aton(ansi->c_str(), &parsed))
    return ResolveByAddress(host) == INADDR_NONE ? -1 : 0;
  return ResolveByName(host) == 0 ? -1 : 0;
}

uint32_t CBasePing::SendEcho(int32_t& roundTripTime, int32_t packetSize, int32_t timeout) {
  std::vector<uint8_t> data = EchoData(packetSize);
  IcmpEchoReply reply = m_sendEcho(m_dwAddress, data, static_cast<uint32_t>(std::max(timeout, 0)));
  roundTripTime = static_cast<int32_t>(reply.round_trip_ms);
  return reply.status;
}

std::vector<uint8_t> CBasePing::EchoData(int32_t packetSize) {
  size_t units = static_cast<size_t>(std::max(packetSize, 0) / 2 + 1);
  std::u16string buffer(units, u'A');
  buffer.back() = 0;
  std::vector<uint8_t> data(units);
  for (size_t i = 0; i < units; ++i) {
    char16_t unit = buffer[i / 2];
    data[i] = static_cast<uint8_t>(i % 2 == 0 ? unit & 0xFF : unit >> 8);
  }
  return data;
}
