#include "platform/desktop_proxy_settings.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr char kSchemaId[] = "org.gnome.system.proxy";
constexpr const char* kLocalNames[] = {"localhost", "127.0.0.0/8", "::1"};

struct SchemaSourceUnref {
  void operator()(GSettingsSchemaSource* source) const { g_settings_schema_source_unref(source); }
};
struct SchemaUnref {
  void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
struct StrvFree {
  void operator()(char** strv) const { g_strfreev(strv); }
};

std::string ReadString(GSettings* settings, const char* key) {
  GCharPtr value(g_settings_get_string(settings, key));
  return value ? value.get() : "";
}

}  // namespace

Result<DesktopProxySettings> DesktopProxySettings::Open(
    const std::filesystem::path& schema_directory) {
  std::unique_ptr<GSettingsSchemaSource, SchemaSourceUnref> source;
  if (schema_directory.empty()) {
    GSettingsSchemaSource* defaults = g_settings_schema_source_get_default();
    if (defaults) source.reset(g_settings_schema_source_ref(defaults));
  } else {
    // A directory without a compiled schema file is simply a source that holds nothing.
    source.reset(g_settings_schema_source_new_from_directory(schema_directory.c_str(), nullptr,
                                                             TRUE, nullptr));
  }
  std::unique_ptr<GSettingsSchema, SchemaUnref> schema(
      source ? g_settings_schema_source_lookup(source.get(), kSchemaId, TRUE) : nullptr);
  if (!schema) return Error{kSchemaMissing, std::string("schema ") + kSchemaId + " not installed"};
  auto settings = GObjectPtr<GSettings>::adopt(g_settings_new_full(schema.get(), nullptr, nullptr));
  // Changes wait for an explicit apply, so each setter writes one change set.
  g_settings_delay(settings.get());
  return DesktopProxySettings(std::move(settings));
}

uint32_t DesktopProxySettings::QueryFlags() const {
  std::string mode = ReadString(settings_.get(), "mode");
  if (mode == "manual") return kDirect | kFixedProxy;
  if (mode == "auto") {
    return ReadString(settings_.get(), "autoconfig-url").empty() ? kDirect | kAutoDetect
                                                                 : kDirect | kAutoProxyUrl;
  }
  return kDirect;
}

Result<void> DesktopProxySettings::CheckWritable(std::initializer_list<const char*> keys) const {
  for (const char* key : keys) {
    if (!g_settings_is_writable(settings_.get(), key))
      return Error{kKeyLocked, std::string("proxy setting ") + key + " is locked"};
  }
  return {};
}

Result<void> DesktopProxySettings::SetDirect() {
  if (Result<void> writable = CheckWritable({"mode"}); !writable) return writable;
  bool written = g_settings_set_string(settings_.get(), "mode", "none");
  return ApplyOrRevert(written);
}

Result<void> DesktopProxySettings::SetAutoConfig(const std::string& url) {
  if (!g_utf8_validate(url.data(), static_cast<gssize>(url.size()), nullptr))
    return Error{kInvalidParameter, "autoconfig URL is not UTF-8"};
  if (Result<void> writable = CheckWritable({"mode", "autoconfig-url", "ignore-hosts"}); !writable)
    return writable;
  std::unique_ptr<char*, StrvFree> current(g_settings_get_strv(settings_.get(), "ignore-hosts"));
  std::vector<const char*> ignore(current.get(), current.get() + g_strv_length(current.get()));
  for (const char* name : kLocalNames) {
    bool present = std::any_of(ignore.begin(), ignore.end(),
                               [&](const char* entry) { return g_strcmp0(entry, name) == 0; });
    if (!present) ignore.push_back(name);
  }
  ignore.push_back(nullptr);

  // One change set, so a reader never sees mode auto beside the previous URL.
  bool written = g_settings_set_string(settings_.get(), "autoconfig-url", url.c_str()) &&
                 g_settings_set_strv(settings_.get(), "ignore-hosts", ignore.data()) &&
                 g_settings_set_string(settings_.get(), "mode", url.empty() ? "none" : "auto");
  return ApplyOrRevert(written);
}

Result<void> DesktopProxySettings::ApplyOrRevert(bool written) {
  if (written) {
    g_settings_apply(settings_.get());
  } else {
    g_settings_revert(settings_.get());
  }
  g_settings_sync();
  if (!written) return Error{kKeyLocked, "write proxy settings"};
  return {};
}
