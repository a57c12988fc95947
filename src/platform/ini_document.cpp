#include "platform/ini_document.h"

#include <cerrno>

#include "base/compare.h"
#include "platform/ansi_codec.h"

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\uFEFF';
}

Text Trim(TextView t) {
  size_t b = 0, e = t.size();
  while (b < e && IsBlank(t[b])) ++b;
  while (e > b && IsBlank(t[e - 1])) --e;
  return Text(t.substr(b, e - b));
}

Text Unquote(const Text& value) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

bool HasLineBreak(TextView t) {
  return t.find_first_of(u"\r\n") != TextView::npos;
}

}  // namespace

IniDocument::Line IniDocument::Parse(std::string raw, bool first) {
  Line line;
  Text text = DecodeAnsi(raw);
  // A byte-order mark may open the file; it is no part of the first name.
  if (first && !text.empty() && text.front() == u'\uFEFF') text.erase(0, 1);
  Text trimmed = Trim(text);
  line.raw = std::move(raw);
  if (trimmed.empty() || trimmed.front() == u';' || trimmed.front() == u'#') return line;
  if (trimmed.front() == u'[') {
    size_t close = trimmed.find(u']');
    line.kind = Kind::kSection;
    line.name = Trim(TextView(trimmed).substr(1, close == Text::npos ? Text::npos : close - 1));
    return line;
  }
  size_t eq = trimmed.find(u'=');
  if (eq == Text::npos) return line;
  line.kind = Kind::kEntry;
  line.name = Trim(TextView(trimmed).substr(0, eq));
  line.value = Trim(TextView(trimmed).substr(eq + 1));
  return line;
}

IniDocument::IniDocument(std::string_view bytes) {
  size_t start = 0;
  while (start < bytes.size()) {
    size_t nl = bytes.find('\n', start);
    size_t end = nl == std::string_view::npos ? bytes.size() : nl;
    std::string raw(bytes.substr(start, end - start));
    if (lines_.empty() && !raw.empty() && raw.back() == '\r') eol_ = "\r\n";
    lines_.push_back(Parse(std::move(raw), lines_.empty()));
    start = end + 1;
  }
}

std::optional<size_t> IniDocument::FindSection(TextView section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::kSection && CompareNoCase(lines_[i].name, section) == 0) return i;
  }
  return std::nullopt;
}

size_t IniDocument::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != Kind::kSection) ++i;
  return i;
}

std::optional<size_t> IniDocument::FindKey(size_t header, TextView key) const {
  for (size_t i = header + 1; i < SectionEnd(header); ++i) {
    if (lines_[i].kind == Kind::kEntry && CompareNoCase(lines_[i].name, key) == 0) return i;
  }
  return std::nullopt;
}

std::optional<Text> IniDocument::Find(TextView section, TextView key) const {
  Text s = Trim(section), k = Trim(key);
  auto header = FindSection(s);
  if (!header) return std::nullopt;
  auto entry = FindKey(*header, k);
  if (!entry) return std::nullopt;
  return Unquote(lines_[*entry].value);
}

Result<void> IniDocument::Set(TextView section, TextView key, TextView value) {
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
    return Error{EINVAL, "line break in an INI name or value"};
  Text s = Trim(section), k = Trim(key), v = Trim(value);
  auto encode = [&](const Text& text) -> std::optional<Line> {
    auto bytes = EncodeAnsi(text);
    if (!bytes) return std::nullopt;
    if (eol_ == "\r\n") *bytes += '\r';
    return Parse(std::move(*bytes), false);
  };
  auto header = FindSection(s);
  if (header) {
    auto entry = FindKey(*header, k);
    // An existing key keeps the spelling of its name.
    auto line = encode((entry ? lines_[*entry].name : k) + u"=" + v);
    if (!line) return Error{EILSEQ, "text without an 8-bit form"};
    if (entry) {
      lines_[*entry] = std::move(*line);
      return {};
    }
    size_t at = SectionEnd(*header);
    while (at > *header + 1 && Trim(DecodeAnsi(lines_[at - 1].raw)).empty()) --at;
    lines_.insert(lines_.begin() + static_cast<ptrdiff_t>(at), std::move(*line));
    return {};
  }
  auto head = encode(u"[" + s + u"]");
  auto line = encode(k + u"=" + v);
  if (!head || !line) return Error{EILSEQ, "text without an 8-bit form"};
  lines_.push_back(std::move(*head));
  lines_.push_back(std::move(*line));
  return {};
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Line& line : lines_) {
    out += line.raw;
    out += '\n';
  }
  return out;
}
