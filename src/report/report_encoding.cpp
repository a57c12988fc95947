#include "report/report_encoding.h"

namespace {

constexpr size_t kStageBytes = kReportArgumentLimit - 1;

bool IsSafe(unsigned char c) {
  return c == 0x21 || c == 0x25 || (c >= 0x27 && c <= 0x2A) || (c >= 0x2D && c <= 0x3A) ||
         (c >= 0x41 && c <= 0x5A) || c == 0x5F || (c >= 0x61 && c <= 0x7A) || c == 0x7E;
}

}  // namespace

std::string ReportUtf8(TextView text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    std::string seq;
    if (cp < 0x80) {
      seq += static_cast<char>(cp);
    } else if (cp < 0x800) {
      seq += static_cast<char>(0xC0 | (cp >> 6));
      seq += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      seq += static_cast<char>(0xE0 | (cp >> 12));
      seq += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      seq += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      seq += static_cast<char>(0xF0 | (cp >> 18));
      seq += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      seq += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      seq += static_cast<char>(0x80 | (cp & 0x3F));
    }
    if (out.size() + seq.size() > kStageBytes) break;
    out += seq;
  }
  return out;
}

std::string PercentEncodeReportBytes(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : utf8) {
    size_t need = IsSafe(c) ? 1 : 3;
    if (out.size() + need > kStageBytes) break;
    if (IsSafe(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

Text EncodeReportArgument(const Text& text) {
  return ToText(PercentEncodeReportBytes(ReportUtf8(text)));
}

std::string EncodeReportArgument(const std::string& ansi) {
  Text wide;
  if (!FromAnsi(ansi, wide)) return {};
  if (wide.size() > kReportArgumentLimit) wide.resize(kReportArgumentLimit);
  return PercentEncodeReportBytes(ReportUtf8(wide));
}
