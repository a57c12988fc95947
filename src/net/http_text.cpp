#include "net/http_text.h"

Text DecodeUtf8Answer(std::string_view bytes, bool cut) {
  bytes = bytes.substr(0, bytes.find('\0'));
  if (cut) {
    // Walk back over continuation bytes to the lead byte of the last character; drop it when
    // its sequence is longer than what arrived.
    size_t lead = bytes.size();
    size_t seen = 0;
    while (lead > 0 && seen < 4) {
      --lead;
      ++seen;
      unsigned char c = static_cast<unsigned char>(bytes[lead]);
      if ((c & 0xC0) != 0x80) {
        size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (need > seen) bytes = bytes.substr(0, lead);
        break;
      }
    }
  }
  return FromUtf8(bytes);
}

std::vector<std::string> HeaderLines(TextView headers) {
  std::vector<std::string> lines;
  std::string all = ToUtf8(headers);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string Utf16LeBody(TextView data, size_t length) {
  length = std::min(length, data.size() * 2);
  std::string body;
  body.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    char16_t unit = data[i / 2];
    body += static_cast<char>(i % 2 == 0 ? unit & 0xFF : unit >> 8);
  }
  return body;
}

Text DecodeUtf16LeFirstLine(std::string_view bytes) {
  std::string kept;
  for (char c : bytes) {
    if (c != '\r') kept += c;
    if (c == '\n') break;
  }
  if (kept.size() % 2) kept += '\0';
  Text line;
  for (size_t i = 0; i < kept.size(); i += 2) {
    char16_t unit = static_cast<unsigned char>(kept[i]) |
                    static_cast<char16_t>(static_cast<unsigned char>(kept[i + 1]) << 8);
    if (unit == 0) break;
    line += unit;
  }
  if (!line.empty() && line.back() == u'\n') line.pop_back();
  return line;
}
