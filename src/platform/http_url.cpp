#include "platform/http_url.h"

#include <strings.h>

#include <charconv>

#include "base/percent_encoding.h"

std::optional<HttpUrlParts> ParseHttpUrl(std::string_view url) {
  HttpUrlParts parts;
  std::string_view rest;
  if (url.size() >= 7 && strncasecmp(url.data(), "http://", 7) == 0) {
    rest = url.substr(7);
  } else if (url.size() >= 8 && strncasecmp(url.data(), "https://", 8) == 0) {
    parts.https_scheme = true;
    rest = url.substr(8);
  } else {
    return std::nullopt;
  }
  size_t authority_end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authority_end);
  std::string_view object =
      authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end);
  if (size_t at = authority.rfind('@'); at != std::string_view::npos)
    authority = authority.substr(at + 1);

  std::string_view host = authority;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      port = after.substr(1);
    }
  } else if (size_t colon = authority.find(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.empty() || host == "[]") return std::nullopt;
  parts.host = std::string(host);
  parts.port = parts.https_scheme ? 443 : 80;
  if (!port.empty()) {
    int value = 0;
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535)
      return std::nullopt;
    parts.port = value;
  }
  parts.object =
      object.empty() || object.front() != '/' ? "/" + std::string(object) : std::string(object);
  if (size_t hash = parts.object.find('#'); hash != std::string::npos) parts.object.resize(hash);
  return parts;
}

std::string RequestUrlFor(const HttpUrlParts& parts) {
  const bool tls = parts.https_scheme || parts.port == 443;
  std::string url = tls ? "https://" : "http://";
  url += parts.host;
  url += ':';
  url += std::to_string(parts.port);
  url += PercentEncode(parts.object, [](unsigned char c, bool) { return c <= 0x20 || c >= 0x7F; });
  return url;
}
