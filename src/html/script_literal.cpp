#include "html/script_literal.h"

namespace {

Text HexEscape(char16_t c) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  Text out = u"\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(c >> shift) & 0xF];
  return out;
}

}  // namespace

Text EscapeForScriptLiteral(TextView text) {
  Text out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'\\':
        out += u"\\\\";
        break;
      case u'\'':
        out += u"\\'";
        break;
      case u'"':
        out += u"\\\"";
        break;
      case u'\n':
        out += u"\\n";
        break;
      case u'\r':
        out += u"\\r";
        break;
      default:
        // Other control characters, the two line separators that end a line in script, and '<'
        // (so the text can never close a surrounding script element).
        if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029 || c == u'<')
          out += HexEscape(c);
        else
          out += c;
    }
  }
  return out;
}
