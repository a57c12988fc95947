// One pipe message carries one text: its UTF-16LE code units, without byte-order mark, length
// or terminator; the message boundary is the framing, and an empty text is an empty message.
// A read accepts at most kPipeReadLimit bytes.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/pipe_connection.h"

inline constexpr size_t kPipeReadLimit = 2048;

[[nodiscard]] std::vector<std::byte> EncodePipeMessage(TextView text);
// The units before the first NUL unit, or all of them. An odd last byte counts as a unit whose
// high byte is zero, as it would land in a zeroed buffer.
[[nodiscard]] Text DecodePipeMessage(std::span<const std::byte> bytes);

// Reads one message of at most kPipeReadLimit bytes into `out`. On failure (hang-up, a longer
// message, whose rest the next read returns, or no connection) prints the read diagnostic and
// leaves `out` unchanged.
[[nodiscard]] bool ReadPipeMessage(PipeConnection* connection, Text& out);
// Writes `text` as one message and waits until the peer has read it. On failure prints
// `failure_line`.
[[nodiscard]] bool WritePipeMessage(PipeConnection* connection, TextView text,
                                    std::string_view failure_line);

inline constexpr std::string_view kReadFailedLine = "读取数据失败！";
