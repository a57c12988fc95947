// The distribution source code from an installer's name or a source id text.
#pragma once

#include <string>

// When the first "_" stands after the first character: the character after it (whatever it is)
// and the ASCII letters and digits that directly follow ("setup_1234.exe" -> "1234", "a_" -> "").
// Otherwise a text with a backslash gives "0", and any other text stays as it is.
template <typename Char>
[[nodiscard]] std::basic_string<Char> NormalizeSourceId(const std::basic_string<Char>& text) {
  using String = std::basic_string<Char>;
  size_t underscore = text.find(Char('_'));
  if (underscore != String::npos && underscore > 0) {
    size_t start = underscore + 1;
    if (start >= text.size()) return {};
    size_t end = start + 1;
    while (end < text.size()) {
      Char c = text[end];
      bool alnum = (c >= Char('0') && c <= Char('9')) || (c >= Char('A') && c <= Char('Z')) ||
                   (c >= Char('a') && c <= Char('z'));
      if (!alnum) break;
      ++end;
    }
    return text.substr(start, end - start);
  }
  if (text.find(Char('\\')) != String::npos) return String(1, Char('0'));
  return text;
}
