#include "platform/proxy_resolver.h"

#include <gio/gio.h>

#include <system_error>
#include <thread>

#include "base/gobject_ptr.h"

namespace {

struct StrvFree {
  void operator()(gchar** v) const { g_strfreev(v); }
};

// The resolver that reads the per-user proxy settings this program writes (GSettings
// org.gnome.system.proxy). GLib picks it by itself only on GNOME desktops; elsewhere it would
// pick libproxy, which does not read those settings, so ask for it by name and fall back to the
// default where it is not installed.
GProxyResolver* DesktopSettingsResolver() {
  static GProxyResolver* resolver = [] {
    GProxyResolver* fallback = g_proxy_resolver_get_default();  // also loads GIO's modules
    GIOExtensionPoint* point = g_io_extension_point_lookup(G_PROXY_RESOLVER_EXTENSION_POINT_NAME);
    GIOExtension* gnome =
        point ? g_io_extension_point_get_extension_by_name(point, "gnome") : nullptr;
    GSettingsSchemaSource* schemas = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        schemas ? g_settings_schema_source_lookup(schemas, "org.gnome.system.proxy", TRUE)
                : nullptr;
    if (schema) g_settings_schema_unref(schema);
    if (gnome && schema)
      return G_PROXY_RESOLVER(g_object_new(g_io_extension_get_type(gnome), nullptr));
    return fallback ? G_PROXY_RESOLVER(g_object_ref(fallback)) : nullptr;
  }();
  return resolver;
}

std::string LookUp(const std::string& url) {
  GProxyResolver* resolver = DesktopSettingsResolver();  // lives as long as the process
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
