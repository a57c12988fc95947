// Percent-encoding of bytes: each byte that `needs_escape(byte, is_first)` selects becomes "%XX"
// (upper-case hexadecimal); the others are copied.
#pragma once

#include <string>
#include <string_view>

template <typename NeedsEscape>
[[nodiscard]] std::string PercentEncode(std::string_view bytes, NeedsEscape needs_escape) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (needs_escape(c, i == 0)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
