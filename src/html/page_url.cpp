#include "html/page_url.h"

#include "base/compare.h"
#include "base/path.h"
#include "base/percent_encoding.h"

namespace {

bool StartsWith(TextView text, TextView prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

Text& PageBaseDirectory() {
  static Text base = GetAppDirectory();
  return base;
}

bool IsRelativeUrl(TextView text) {
  Text t = ToForwardSlashes(text);
  for (TextView prefix : {u"www.", u"http://", u"https://", u"ftp://", u"res://", u"file:///"})
    if (StartsWith(t, prefix)) return false;
  return true;
}

bool IsResourceIdUrl(TextView text) {
  Text t = ToForwardSlashes(text);
  size_t at = t.find(u".exe");
  if (at == Text::npos) at = t.find(u".dll");
  if (at == Text::npos) return false;
  size_t rest = at + 4;
  if (rest >= t.size()) return false;
  for (char16_t c : TextView(t).substr(rest + 1))
    if (c != u'/' && (c < u'0' || c > u'9')) return false;
  return true;
}

bool IsLocalPageUrl(TextView text) {
  return StartsWith(text, u"file:///") || StartsWith(text, u"res://") ||
         (text.size() >= 2 && text[1] == u':');
}

bool IsRemotePageUrl(TextView text) {
  return StartsWith(text, u"http:") || StartsWith(text, u"https:");
}

Text ResolvePageUrl(TextView url, TextView base) {
  if (!IsRelativeUrl(url)) return Text(url);
  Text prefix;
  Text base_part(base);
  if (IsRelativeUrl(base)) {
    prefix = IsResourceIdUrl(url) ? u"res://" : u"file://";
    // A directory name is a path, not URL text: every character that means something in a URL
    // ('%', '#', '?') or may not appear in one is escaped, so any folder name loads.
    base_part = FromUtf8(PercentEncode(ToUtf8(ToForwardSlashes(base)), [](unsigned char c, bool) {
      return c <= 0x20 || c >= 0x7F || c == '%' || c == '#' || c == '?';
    }));
  }
  return ToForwardSlashes(prefix + base_part + u"/" + Text(url));
}

bool IsWebPageUrl(TextView text) {
  return EqualsIgnoringAsciiCase(text.substr(0, 7), u"http://") ||
         EqualsIgnoringAsciiCase(text.substr(0, 8), u"https://");
}
