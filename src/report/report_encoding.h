// Encoding of report arguments: UTF-8, then percent-escapes for every byte outside a fixed safe
// set. Each stage holds at most kReportArgumentLimit - 1 bytes (its buffer keeps room for the
// terminating zero); what does not fit is dropped at a whole character or escape.
#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

inline constexpr size_t kReportArgumentLimit = 2000;

// UTF-16 to UTF-8; a surrogate pair becomes one 4-byte sequence, an unpaired surrogate the
// 3-byte sequence of its own value. Stops at the first character that does not fit.
[[nodiscard]] std::string ReportUtf8(TextView text);

// Copies 0x21, 0x25, 0x27-0x2A, 0x2D-0x3A, 0x41-0x5A, 0x5F, 0x61-0x7A and 0x7E unchanged (so a
// percent sign is never escaped) and writes every other byte as "%" and two lower-case hex digits.
[[nodiscard]] std::string PercentEncodeReportBytes(std::string_view utf8);

// The main program's encoding of a UTF-16 argument.
[[nodiscard]] Text EncodeReportArgument(const Text& text);
// The library's encoding of an argument in the ANSI code page (at most 2000 UTF-16 units are
// taken from it; text that is not valid in the code page encodes as the empty text).
[[nodiscard]] std::string EncodeReportArgument(const std::string& ansi);
