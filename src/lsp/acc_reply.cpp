#include "lsp/acc_reply.h"

#include <cstring>

namespace {

// Appends `unit` as UTF-16LE; false when `out` is full.
bool PutUnit(std::span<uint8_t> out, size_t& at, uint32_t unit) {
  if (at + 2 > out.size()) return false;
  out[at++] = static_cast<uint8_t>(unit & 0xff);
  out[at++] = static_cast<uint8_t>(unit >> 8);
  return true;
}

bool PutCodePoint(std::span<uint8_t> out, size_t& at, uint32_t code) {
  if (code < 0x10000) return PutUnit(out, at, code);
  code -= 0x10000;
  return PutUnit(out, at, 0xd800 | (code >> 10)) && PutUnit(out, at, 0xdc00 | (code & 0x3ff));
}

bool PutUtf8(std::span<uint8_t> out, size_t& at, std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    auto lead = static_cast<uint8_t>(text[i]);
    size_t length = lead < 0x80         ? 1
                    : (lead >> 5) == 6  ? 2
                    : (lead >> 4) == 14 ? 3
                    : (lead >> 3) == 30 ? 4
                                        : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t code = length == 1 ? lead : lead & (0x7f >> length);
    for (size_t k = 1; k < length; ++k) {
      auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = (code << 6) | (next & 0x3f);
    }
    if (!PutCodePoint(out, at, code)) return false;
    i += length;
  }
  return true;
}

// Appends the UTF-8 form of `code` to `out` (capacity `capacity`, NUL kept free).
bool AppendUtf8(char* out, size_t capacity, size_t& size, uint32_t code) {
  char bytes[4];
  size_t n = 0;
  if (code < 0x80) {
    bytes[n++] = static_cast<char>(code);
  } else if (code < 0x800) {
    bytes[n++] = static_cast<char>(0xc0 | (code >> 6));
    bytes[n++] = static_cast<char>(0x80 | (code & 0x3f));
  } else if (code < 0x10000) {
    bytes[n++] = static_cast<char>(0xe0 | (code >> 12));
    bytes[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    bytes[n++] = static_cast<char>(0x80 | (code & 0x3f));
  } else {
    bytes[n++] = static_cast<char>(0xf0 | (code >> 18));
    bytes[n++] = static_cast<char>(0x80 | ((code >> 12) & 0x3f));
    bytes[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    bytes[n++] = static_cast<char>(0x80 | (code & 0x3f));
  }
  if (size + n >= capacity) return false;
  std::memcpy(out + size, bytes, n);
  size += n;
  out[size] = '\0';
  return true;
}

// Walks the reply's code points.
class Utf16Reader {
 public:
  explicit Utf16Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool done() const { return at_ + 1 >= bytes_.size(); }
  // The next code point, or UINT32_MAX for an unpaired surrogate.
  uint32_t next() {
    uint32_t unit = unit_at(at_);
    at_ += 2;
    if (unit < 0xd800 || unit > 0xdfff) return unit;
    if (unit > 0xdbff || done()) return UINT32_MAX;
    uint32_t low = unit_at(at_);
    if (low < 0xdc00 || low > 0xdfff) return UINT32_MAX;
    at_ += 2;
    return 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
  }

 private:
  uint32_t unit_at(size_t i) const { return bytes_[i] | (bytes_[i + 1] << 8); }
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

}  // namespace

size_t EncodeAccRequest(std::span<uint8_t> out, pid_t pid, std::string_view exe_path) {
  char head[32] = "RequestAcc,";
  size_t size = std::strlen(head);
  char digits[16];
  size_t n = 0;
  for (unsigned long value = static_cast<unsigned long>(pid); n == 0 || value != 0; value /= 10)
    digits[n++] = static_cast<char>('0' + value % 10);
  while (n > 0) head[size++] = digits[--n];
  head[size++] = ',';
  size_t at = 0;
  if (!PutUtf8(out, at, std::string_view(head, size)) || !PutUtf8(out, at, exe_path)) return 0;
  return at;
}

bool ParseAccReply(std::span<const uint8_t> utf16le, AccReply& reply) {
  reply = AccReply{};
  char flag[2] = {};
  char port[8] = {};
  char* fields[4] = {flag, reply.server, port, reply.token};
  const size_t capacity[4] = {sizeof flag, sizeof reply.server, sizeof port, sizeof reply.token};
  size_t sizes[4] = {};
  size_t field = 0;
  for (Utf16Reader reader(utf16le); !reader.done();) {
    uint32_t code = reader.next();
    if (code == UINT32_MAX || code == 0) return false;
    if (code == ',' && field < 3) {
      ++field;
      continue;
    }
    if (!AppendUtf8(fields[field], capacity[field], sizes[field], code)) return false;
  }
  if (field != 3 || sizes[0] != 1 || flag[0] != '1' || sizes[1] == 0) return false;
  unsigned long value = 0;
  for (size_t i = 0; i < sizes[2]; ++i) {
    if (port[i] < '0' || port[i] > '9') return false;
    value = value * 10 + static_cast<unsigned long>(port[i] - '0');
  }
  if (sizes[2] == 0 || value == 0 || value > 65535) return false;
  reply.port = static_cast<uint16_t>(value);
  reply.token_size = sizes[3];
  reply.accelerate = true;
  return true;
}
