// What the ICMP echo helper (src/icmp_helper) is told and what it answers. The helper is the one
// file to which the package grants cap_net_raw, and anyone on the machine may start it, so its
// arguments are checked as hostile input: exactly three, in canonical form, within fixed bounds.
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/icmp_echo_socket.h"

// The helper's file name; it lies beside the program.
inline constexpr char kIcmpEchoHelperName[] = "morvil-ping";

// Bounds of one request: a ping of the usual sizes and a wait of at most a minute.
inline constexpr size_t kIcmpHelperMaxData = 1024;
inline constexpr uint32_t kIcmpHelperMaxTimeoutMs = 60000;

struct IcmpHelperRequest {
  uint32_t address = 0;  // IPv4, network byte order
  std::vector<uint8_t> data;
  uint32_t timeout_ms = 0;
};

// The helper's arguments after its name: the dotted address, the time-out in decimal
// milliseconds and the echo data in lower-case hexadecimal ("-" for none).
[[nodiscard]] std::vector<std::string> IcmpHelperArguments(uint32_t address,
                                                           std::span<const uint8_t> data,
                                                           uint32_t timeout_ms);
// The request those arguments carry, or nothing when any of them is not exactly of that form.
[[nodiscard]] std::optional<IcmpHelperRequest> ParseIcmpHelperArguments(
    std::span<const std::string_view> arguments);

// The helper's one line of output: "<status> <round-trip ms>\n".
[[nodiscard]] std::string FormatIcmpHelperReply(const IcmpEchoReply& reply);
// The reply in that output; nothing unless it is exactly one such line.
[[nodiscard]] std::optional<IcmpEchoReply> ParseIcmpHelperReply(std::string_view output);
