#include "base/text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(Text& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// Runs one whole conversion; false on any character the target set cannot hold.
bool Convert(const char* to, const char* from, const char* in, size_t in_size, std::string& out) {
  iconv_t raw = iconv_open(to, from);
  if (raw == reinterpret_cast<iconv_t>(-1)) return false;
  std::unique_ptr<void, IconvCloser> cd(raw);
  std::string result(in_size * 4 + 16, '\0');
  char* src = const_cast<char*>(in);
  size_t src_left = in_size;
  size_t used = 0;
  for (;;) {
    char* dst = result.data() + used;
    size_t dst_left = result.size() - used;
    size_t rc = iconv(raw, src_left ? &src : nullptr, &src_left, &dst, &dst_left);
    used = result.size() - dst_left;
    if (rc != static_cast<size_t>(-1)) {
      if (src_left == 0) break;
      continue;
    }
    if (errno != E2BIG) return false;
    result.resize(result.size() * 2);
  }
  // Irreversible conversions (iconv's rc > 0) are substitutions: refuse them too.
  result.resize(used);
  out = std::move(result);
  return true;
}

}  // namespace

std::string ToUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cu = text[i];
    if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cu = 0x10000 + ((cu - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cu >= 0xD800 && cu <= 0xDFFF) {
      cu = kReplacement;
    }
    AppendUtf8(out, cu);
  }
  return out;
}

Text FromUtf8(std::string_view s) {
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  Text out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char lead = static_cast<unsigned char>(s[i]);
    int extra = lead < 0x80           ? 0
                : (lead >> 5) == 0x6  ? 1
                : (lead >> 4) == 0xE  ? 2
                : (lead >> 3) == 0x1E ? 3
                                      : -1;
    bool ok = extra >= 0 && i + extra < s.size();
    char32_t cp = ok ? (extra == 0 ? lead : lead & (0x3F >> extra)) : 0;
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char cont = static_cast<unsigned char>(s[i + k]);
      ok = (cont & 0xC0) == 0x80;
      cp = (cp << 6) | (cont & 0x3F);
    }
    if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    AppendUtf16(out, cp);
    i += extra + 1;
  }
  return out;
}

std::string AnsiCodeset() {
  const char* cs = nl_langinfo(CODESET);
  if (!cs || !*cs || std::strcmp(cs, "ANSI_X3.4-1968") == 0 || std::strcmp(cs, "ASCII") == 0)
    return "UTF-8";
  return cs;
}

bool ToAnsi(TextView text, std::string& out) {
  std::string codeset = AnsiCodeset();
  return Convert(codeset.c_str(), "UTF-16LE", reinterpret_cast<const char*>(text.data()),
                 text.size() * sizeof(char16_t), out);
}

bool FromAnsi(std::string_view ansi, Text& out) {
  std::string codeset = AnsiCodeset();
  std::string bytes;
  if (!Convert("UTF-16LE", codeset.c_str(), ansi.data(), ansi.size(), bytes)) return false;
  Text result(bytes.size() / 2, u'\0');
  std::memcpy(result.data(), bytes.data(), result.size() * 2);
  out = std::move(result);
  return true;
}

Text ToText(long long value) {
  return ToText(std::to_string(value));
}

Text ToText(std::string_view ascii) {
  return Text(ascii.begin(), ascii.end());
}
