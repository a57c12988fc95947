// The desktop's per-user proxy settings: GSettings schema org.gnome.system.proxy (keys "mode"
// none/manual/auto, "autoconfig-url", "ignore-hosts"), which GLib's proxy resolver and the
// desktop's programs read. Every change is written as one change set and synced, so another
// reader (another process included) sees it once the call returns. Use from one thread at a time.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "base/gobject_ptr.h"
#include "base/result.h"

class DesktopProxySettings {
 public:
  // Proxy type flags, as the platform's per-connection settings report them.
  static constexpr uint32_t kDirect = 1;
  static constexpr uint32_t kFixedProxy = 2;
  static constexpr uint32_t kAutoProxyUrl = 4;
  static constexpr uint32_t kAutoDetect = 8;

  // Error codes: the platform's "file not found" for a missing schema, "access denied" for a key
  // the administrator has locked, "invalid parameter" for a URL that is not UTF-8.
  static constexpr int kSchemaMissing = 2;
  static constexpr int kKeyLocked = 5;
  static constexpr int kInvalidParameter = 87;

  // Binds the schema from the default schema sources, or from `schema_directory` alone when it
  // is given (tests use an empty one). A schema that is not installed is an error, not an abort.
  [[nodiscard]] static Result<DesktopProxySettings> Open(
      const std::filesystem::path& schema_directory = {});

  // none -> kDirect (1); manual -> kDirect | kFixedProxy (3); auto with a URL ->
  // kDirect | kAutoProxyUrl (5); auto without one -> kDirect | kAutoDetect (9).
  [[nodiscard]] uint32_t QueryFlags() const;

  // Mode none. The proxy hosts, the ignore list and the autoconfig URL stay for a later change.
  [[nodiscard]] Result<void> SetDirect();

  // Stores `url` (UTF-8; empty allowed) as the autoconfig URL and sets mode auto. The local names
  // the platform's "<local>" bypass stands for (localhost, 127.0.0.0/8, ::1) are added to the
  // ignore list where missing, as GLib's resolver does not know "<local>"; other entries stay.
  // An empty URL sets mode none instead: the desktop takes mode auto without a URL for automatic
  // discovery (WPAD), which would let any machine on the local network name a proxy for every
  // program of the user, while an empty configuration URL means a direct connection here.
  [[nodiscard]] Result<void> SetAutoConfig(const std::string& url);

 private:
  explicit DesktopProxySettings(GObjectPtr<GSettings> settings) : settings_(std::move(settings)) {}

  [[nodiscard]] Result<void> CheckWritable(std::initializer_list<const char*> keys) const;
  // Applies the pending change set when every write was accepted, drops it otherwise; syncs.
  [[nodiscard]] Result<void> ApplyOrRevert(bool written);

  GObjectPtr<GSettings> settings_;
};
