#include "platform/ansi_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvPtr = std::unique_ptr<void, IconvCloser>;

IconvPtr OpenIconv(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return IconvPtr(cd);
}

bool IsUtf8(const std::string& codeset) {
  return codeset == "UTF-8" || codeset == "utf8";
}

// Converts `in` with `cd`; on a sequence the target cannot take or the source does not form,
// calls `on_bad(src, left, out)` which must consume input (advance `src`, reduce `left`).
template <typename OnBad>
bool RunIconv(iconv_t cd, const char* in, size_t size, std::string& out, OnBad on_bad) {
  char* src = const_cast<char*>(in);
  size_t left = size;
  char buffer[4096];
  while (left > 0) {
    char* dst = buffer;
    size_t room = sizeof buffer;
    size_t rc = iconv(cd, &src, &left, &dst, &room);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (errno != EILSEQ && errno != EINVAL) return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    on_bad(src, left, out);
  }
  char* dst = buffer;
  size_t room = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dst, &room);
  out.append(buffer, static_cast<size_t>(dst - buffer));
  return true;
}

}  // namespace

bool HasLoneSurrogate(TextView text) {
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      return true;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return true;
  }
  return false;
}

Text DecodeAnsi(std::string_view bytes) {
  std::string codeset = AnsiCodeset();
  if (IsUtf8(codeset)) return FromUtf8(bytes);
  IconvPtr cd = OpenIconv("UTF-16LE", codeset.c_str());
  if (!cd) return FromUtf8(bytes);
  std::string utf16;
  bool ok = RunIconv(static_cast<iconv_t>(cd.get()), bytes.data(), bytes.size(), utf16,
                     [](char*& src, size_t& left, std::string& out) {
                       out += "\xFD\xFF";  // U+FFFD, little-endian
                       ++src;
                       --left;
                     });
  if (!ok) return FromUtf8(bytes);
  Text text(utf16.size() / 2, u'\0');
  std::memcpy(text.data(), utf16.data(), text.size() * 2);
  return text;
}

std::optional<std::string> EncodeAnsi(TextView text) {
  if (HasLoneSurrogate(text)) return std::nullopt;
  std::string codeset = AnsiCodeset();
  if (IsUtf8(codeset)) return ToUtf8(text);
  IconvPtr cd = OpenIconv(codeset.c_str(), "UTF-16LE");
  if (!cd) return std::nullopt;
  std::string out;
  bool ok = RunIconv(static_cast<iconv_t>(cd.get()), reinterpret_cast<const char*>(text.data()),
                     text.size() * 2, out, [](char*& src, size_t& left, std::string& out) {
                       // Skip one character: a surrogate pair is four bytes.
                       unsigned char high = static_cast<unsigned char>(src[1]);
                       size_t width = (high >= 0xD8 && high <= 0xDB && left >= 4) ? 4 : 2;
                       width = std::min(width, left);
                       out += '?';
                       src += width;
                       left -= width;
                     });
  if (!ok) return std::nullopt;
  return out;
}
