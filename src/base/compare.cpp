#include "base/compare.h"

#include <cwchar>
#include <cwctype>
#include <string>

namespace {

// UTF-16 -> UTF-32 with each character folded to lower case; a lone surrogate is kept as is.
std::wstring Folded(TextView text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    out += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(cp)));
  }
  return out;
}

}  // namespace

int CompareNoCase(TextView a, TextView b) {
  std::wstring fa = Folded(a);
  std::wstring fb = Folded(b);
  // wcscoll stops at an embedded NUL; compare the pieces between NULs one after another.
  size_t pa = 0, pb = 0;
  for (;;) {
    int r = std::wcscoll(fa.c_str() + pa, fb.c_str() + pb);
    if (r != 0) return r < 0 ? -1 : 1;
    size_t na = fa.find(L'\0', pa), nb = fb.find(L'\0', pb);
    if (na == std::wstring::npos || nb == std::wstring::npos) {
      if (na == nb) return 0;
      return na == std::wstring::npos ? -1 : 1;
    }
    pa = na + 1;
    pb = nb + 1;
  }
}

bool EqualsIgnoringAsciiCase(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i] >= u'A' && a[i] <= u'Z' ? a[i] + 32 : a[i];
    char16_t y = b[i] >= u'A' && b[i] <= u'Z' ? b[i] + 32 : b[i];
    if (x != y) return false;
  }
  return true;
}
