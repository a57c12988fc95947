// The acceleration request and its reply as the preload library sends and reads them on the
// acceleration pipe: one UTF-16LE text per message.
//
//   request  "RequestAcc,<pid>,<full path of the executable>"
//   reply    "<0|1>,<proxy server>,<proxy port>,<token>"
//
// The reply's values travel unquoted; a comma inside the token is kept (the token is everything
// after the third comma). Pure functions over caller-owned buffers; thread-safe.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

struct AccReply {
  bool accelerate = false;
  char server[256] = {};  // host name or address literal, NUL-terminated
  uint16_t port = 0;
  char token[256] = {};  // NUL-terminated; SOCKS5 allows at most 255 bytes
  size_t token_size = 0;
};

// Encodes the request for process `pid` running `exe_path` (UTF-8) as UTF-16LE into `out`;
// the bytes written, 0 when `out` is too small or the path is not valid UTF-8.
[[nodiscard]] size_t EncodeAccRequest(std::span<uint8_t> out, pid_t pid, std::string_view exe_path);

// Reads a UTF-16LE reply. False (and `reply.accelerate` false) when the reply says 0, or when it
// cannot be used: fewer than four fields, a server that is empty, a server or token that is too
// long or not valid UTF-16, a port that is not a number from 1 to 65535. The token may be empty:
// the proxy is then used without authentication.
[[nodiscard]] bool ParseAccReply(std::span<const uint8_t> utf16le, AccReply& reply);
