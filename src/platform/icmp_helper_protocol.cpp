#include "platform/icmp_helper_protocol.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstdio>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// A decimal number without sign, leading zeros (other than "0" itself) or anything after it.
std::optional<uint32_t> ParseDecimal(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  uint32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::vector<std::string> IcmpHelperArguments(uint32_t address, std::span<const uint8_t> data,
                                             uint32_t timeout_ms) {
  char dotted[INET_ADDRSTRLEN] = {};
  in_addr in{address};
  inet_ntop(AF_INET, &in, dotted, sizeof dotted);
  std::string hex;
  for (uint8_t byte : data) {
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 0x0F];
  }
  return {dotted, std::to_string(timeout_ms), hex.empty() ? "-" : hex};
}

std::optional<IcmpHelperRequest> ParseIcmpHelperArguments(
    std::span<const std::string_view> arguments) {
  if (arguments.size() != 3) return std::nullopt;
  IcmpHelperRequest request;
  // inet_pton takes only the four-part dotted form, unlike inet_addr or inet_aton.
  std::string dotted(arguments[0]);
  in_addr in{};
  if (dotted.size() >= INET_ADDRSTRLEN || inet_pton(AF_INET, dotted.c_str(), &in) != 1)
    return std::nullopt;
  request.address = in.s_addr;

  std::optional<uint32_t> timeout = ParseDecimal(arguments[1]);
  if (!timeout || *timeout > kIcmpHelperMaxTimeoutMs) return std::nullopt;
  request.timeout_ms = *timeout;

  std::string_view hex = arguments[2];
  if (hex != "-") {
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() / 2 > kIcmpHelperMaxData)
      return std::nullopt;
    for (size_t i = 0; i < hex.size(); i += 2) {
      int high = HexValue(hex[i]), low = HexValue(hex[i + 1]);
      if (high < 0 || low < 0) return std::nullopt;
      request.data.push_back(static_cast<uint8_t>(high << 4 | low));
    }
  }
  return request;
}

std::string FormatIcmpHelperReply(const IcmpEchoReply& reply) {
  return std::to_string(static_cast<uint32_t>(reply.status)) + " " +
         std::to_string(reply.round_trip_ms) + "\n";
}

std::optional<IcmpEchoReply> ParseIcmpHelperReply(std::string_view output) {
  if (output.empty() || output.back() != '\n') return std::nullopt;
  output.remove_suffix(1);
  size_t space = output.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  std::optional<uint32_t> status = ParseDecimal(output.substr(0, space));
  std::optional<uint32_t> time = ParseDecimal(output.substr(space + 1));
  if (!status || !time) return std::nullopt;
  return IcmpEchoReply{static_cast<IcmpStatus>(*status), *time};
}
