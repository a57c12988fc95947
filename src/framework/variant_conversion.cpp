// Argument conversion, following the platform's VariantChangeType with no flags:
//
// | from \ to   | string                       | int                              | bool |
// |-------------|------------------------------|----------------------------------|-------------------|
// | empty       | ""                           | 0                                | false | | null
// | type mismatch                | type mismatch                    | type mismatch     | | bool |
// "-1" (true) / "0" (false)    | -1 / 0                           | as is             | | int |
// decimal text                 | as is                            | non-zero          | | double |
// up to 15 significant digits, | rounded half to even; overflow   | non-zero          | | | "1.5",
// "1E+21"               | outside 32 bits                  |                   | | string      | as
// is                        | number text, see below; overflow | "true"/"false" in | | | | outside
// 32 bits; else mismatch   | any case, or a    | |             |                              | |
// number (non-zero) | | object      | type mismatch                | type mismatch | type mismatch
// |
//
// Number text: blanks around it, an optional sign, digits with ',' thousands separators, an
// optional '.' fraction and exponent ("1.5e3"), or "&H" hexadecimal / "&O" octal digits.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/compare.h"
#include "framework/script_value.h"

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// The value of a number text; nullopt when it is not one.
std::optional<double> ParseNumberText(TextView text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  TextView t = text.substr(b, e - b);
  if (t.empty()) return std::nullopt;
  if (t.size() > 2 && t[0] == u'&' &&
      (t[1] == u'H' || t[1] == u'h' || t[1] == u'O' || t[1] == u'o')) {
    const int base = (t[1] == u'H' || t[1] == u'h') ? 16 : 8;
    double value = 0;
    for (char16_t c : t.substr(2)) {
      int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                  : c >= u'a' && c <= u'f' ? c - u'a' + 10
                  : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                           : 99;
      if (digit >= base) return std::nullopt;
      value = value * base + digit;
    }
    // Hexadecimal and octal texts are 32-bit patterns: &HFFFFFFFF is -1.
    if (value > 4294967295.0) return value;
    if (value > 2147483647.0) value -= 4294967296.0;
    return value;
  }
  std::string ascii;
  size_t i = 0;
  if (t[i] == u'+' || t[i] == u'-') ascii += static_cast<char>(t[i++]);
  bool digits = false, point = false;
  for (; i < t.size(); ++i) {
    char16_t c = t[i];
    if (c >= u'0' && c <= u'9') {
      ascii += static_cast<char>(c);
      digits = true;
    } else if (c == u',' && digits && !point) {
      continue;  // thousands separator
    } else if (c == u'.' && !point) {
      ascii += '.';
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return std::nullopt;
  if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
    std::string exponent = "e";
    size_t j = i + 1;
    if (j < t.size() && (t[j] == u'+' || t[j] == u'-')) exponent += static_cast<char>(t[j++]);
    size_t start = j;
    while (j < t.size() && t[j] >= u'0' && t[j] <= u'9') exponent += static_cast<char>(t[j++]);
    if (j == start) return std::nullopt;
    ascii += exponent;
    i = j;
  }
  if (i != t.size()) return std::nullopt;
  return std::strtod(ascii.c_str(), nullptr);
}

HRESULT ToInt(double d, int32_t& out) {
  if (!std::isfinite(d)) return DISP_E_OVERFLOW;
  double r = std::nearbyint(d);  // the default rounding mode rounds half to even
  if (r < -2147483648.0 || r > 2147483647.0) return DISP_E_OVERFLOW;
  out = static_cast<int32_t>(r);
  return S_OK;
}

Text DoubleText(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", d);
  return ToText(std::string_view(buf));
}

}  // namespace

HRESULT ConvertArgument(const ScriptValue& v, ScriptType type, ScriptArg& out) {
  using Kind = ScriptValue::Kind;
  if (v.kind == Kind::kNull || v.kind == Kind::kObject) return DISP_E_TYPEMISMATCH;
  switch (type) {
    case ScriptType::kString:
      switch (v.kind) {
        case Kind::kEmpty:
          out = Text();
          return S_OK;
        case Kind::kBool:
          out = Text(v.boolean ? u"-1" : u"0");
          return S_OK;
        case Kind::kInt:
          out = ToText(static_cast<long long>(v.integer));
          return S_OK;
        case Kind::kDouble:
          out = DoubleText(v.number);
          return S_OK;
        default:
          out = v.string;
          return S_OK;
      }
    case ScriptType::kInt: {
      int32_t i = 0;
      switch (v.kind) {
        case Kind::kEmpty:
          break;
        case Kind::kBool:
          i = v.boolean ? -1 : 0;
          break;
        case Kind::kInt:
          i = v.integer;
          break;
        case Kind::kDouble:
          if (HRESULT hr = ToInt(v.number, i); hr != S_OK) return hr;
          break;
        default: {
          std::optional<double> d = ParseNumberText(v.string);
          if (!d) return DISP_E_TYPEMISMATCH;
          if (HRESULT hr = ToInt(*d, i); hr != S_OK) return hr;
        }
      }
      out = i;
      return S_OK;
    }
    case ScriptType::kBool: {
      bool b = false;
      switch (v.kind) {
        case Kind::kEmpty:
          break;
        case Kind::kBool:
          b = v.boolean;
          break;
        case Kind::kInt:
          b = v.integer != 0;
          break;
        case Kind::kDouble:
          b = v.number != 0;
          break;
        default:
          if (EqualsIgnoringAsciiCase(v.string, u"true")) {
            b = true;
          } else if (EqualsIgnoringAsciiCase(v.string, u"false")) {
            b = false;
          } else {
            std::optional<double> d = ParseNumberText(v.string);
            if (!d) return DISP_E_TYPEMISMATCH;
            b = *d != 0;
          }
      }
      out = b;
      return S_OK;
    }
    case ScriptType::kNone:
      break;
  }
  return DISP_E_TYPEMISMATCH;
}
