// Splits http(s) URLs into their parts and builds the URL curl requests for them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct HttpUrlParts {
  bool https_scheme = false;
  std::string host;    // as written; an IPv6 literal keeps its brackets
  int port = 0;        // the URL's port, else 80 for http and 443 for https
  std::string object;  // path and query, "/" when the URL has none
};

// Parses "http[s]://[user[:password]@]host[:port][/object]", the scheme in any letter case.
// Anything else, an empty host or a port outside 1..65535 gives nothing.
[[nodiscard]] std::optional<HttpUrlParts> ParseHttpUrl(std::string_view url);

// The URL to request: TLS when the scheme is https or the port is 443, whatever the other says.
// Blanks, control bytes and bytes from 0x7F up in the object are percent-escaped.
[[nodiscard]] std::string RequestUrlFor(const HttpUrlParts& parts);
