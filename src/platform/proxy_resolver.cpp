#include "platform/proxy_resolver.h"

#include <gio/gio.h>

#include <system_error>
#include <thread>

#include "base/gobject_ptr.h"

namespace {

struct StrvFree {
  void operator()(gchar** v) const { g_strfreev(v); }
};

std::string LookUp(const std::string& url) {
  GProxyResolver* resolver = g_proxy_resolver_get_default();  // not owned
  if (!resolver) return {};
  GError* raw_error = nullptr;
  std::unique_ptr<gchar*, StrvFree> answer(
      g_proxy_resolver_lookup(resolver, url.c_str(), nullptr, &raw_error));
  GErrorPtr error(raw_error);
  if (!answer) return {};
  std::vector<std::string> entries;
  for (gchar** p = answer.get(); *p; ++p) entries.emplace_back(*p);
  return CurlProxyFromResolverAnswer(entries);
}

bool StartsWith(const std::string& s, std::string_view prefix) {
  return s.size() >= prefix.size() &&
         g_ascii_strncasecmp(s.c_str(), prefix.data(), prefix.size()) == 0;
}

}  // namespace

std::string CurlProxyFromResolverAnswer(const std::vector<std::string>& answer) {
  for (const std::string& entry : answer) {
    if (StartsWith(entry, "direct://")) return {};
    if (StartsWith(entry, "http://") || StartsWith(entry, "https://") ||
        StartsWith(entry, "socks4://") || StartsWith(entry, "socks4a://") ||
        StartsWith(entry, "socks5://"))
      return entry;
    if (StartsWith(entry, "socks://")) return "socks5://" + entry.substr(8);
  }
  return {};
}

std::string ResolveProxyForUrl(const std::string& url) {
  if (!g_main_context_is_owner(g_main_context_default())) return LookUp(url);
  std::string proxy;
  try {
    std::thread helper([&] { proxy = LookUp(url); });
    helper.join();
  } catch (const std::system_error&) {
    // No helper thread: a direct connection rather than a lookup that could block this thread.
  }
  return proxy;
}
