// The desktop's proxy choice for one URL, through GLib's default GProxyResolver.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The proxy to hand to curl for `url`: "" for a direct connection, otherwise a proxy URL curl
// understands. The lookup runs on a helper thread when the caller owns the default GLib main
// context, so a resolver that needs that context cannot deadlock the UI thread. A failed lookup
// (or no helper thread) means a direct connection. Thread-safe.
[[nodiscard]] std::string ResolveProxyForUrl(const std::string& url);

// Picks the first entry of a resolver answer that curl can use: "direct://" gives "",
// http/https/socks4/socks4a/socks5 pass unchanged, "socks://" becomes "socks5://". Entries of
// other schemes are skipped; an answer with no usable entry gives "".
[[nodiscard]] std::string CurlProxyFromResolverAnswer(const std::vector<std::string>& answer);
