// One latency probe target: resolves a host to an IPv4 address and sends echo requests to it.
// Each echo request goes through its own socket. Owned by one worker thread; not thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/icmp_echo.h"

class CBasePing {
 public:
  // Sends one echo request carrying `data` to `address` (network byte order) and waits up to
  // `timeoutMs` for its answer. The default opens a new ICMP socket per request.
  using EchoSender = std::function<IcmpEchoReply(uint32_t address, std::span<const uint8_t> data,
                                                 uint32_t timeoutMs)>;

  // Looks an 8-bit host name up and gives its first IPv4 address (network byte order), or
  // nothing. The default asks the system's resolver (getaddrinfo, IPv4 only).
  using NameLookup = std::function<std::optional<uint32_t>(const std::string& name)>;

  explicit CBasePing(EchoSender sendEcho = SendIcmpEcho, NameLookup lookUp = LookUpIpv4)
      : m_sendEcho(std::move(sendEcho)), m_lookUp(std::move(lookUp)) {}
  virtual ~CBasePing() = default;

  // Parses a dotted IPv4 address (inet_addr rules) into the address field and returns it;
  // INADDR_NONE (all ones) when the text is not one.
  uint32_t ResolveByAddress(const Text& host);
  // Looks the whole text (in the 8-bit code page) up by name and stores the first address; 0 when
  // the lookup fails, leaving the address field as it was.
  uint32_t ResolveByName(const Text& host);
  // 0 on success, -1 on failure. A text containing "http://" or "www." is looked up by name as
  // it stands (a URL therefore fails); a dotted IPv4 address is parsed (the limited broadcast
  // address fails); any other text is looked up by name.
  int32_t Resolve(const Text& host);

  // One echo request to the resolved address with the data EchoData(packetSize); writes the
  // round-trip time in milliseconds and returns the status (0 answered, 11010 timed out, 11016
  // source quench, ...). A negative time-out counts as 0.
  uint32_t SendEcho(int32_t& roundTripTime, int32_t packetSize, int32_t timeout);

  [[nodiscard]] uint32_t GetAddress() const { return m_dwAddress; }

  // The echo data for a packet size: packetSize / 2 + 1 bytes taken from a UTF-16 buffer of that
  // many 'A' units whose last unit is 0, so 64 gives 33 bytes 0x41 0x00 ... 0x41.
  [[nodiscard]] static std::vector<uint8_t> EchoData(int32_t packetSize);

  // The default name lookup.
  [[nodiscard]] static std::optional<uint32_t> LookUpIpv4(const std::string& name);

 private:
  EchoSender m_sendEcho;
  NameLookup m_lookUp;
  uint32_t m_dwAddress = 0;
};
