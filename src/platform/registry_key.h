// An open registry key: the platform registry's handle semantics over the stores.
//
// HKEY_CURRENT_USER lives in the per-user store `$XDG_CONFIG_HOME/morvil/registry.db`. The other
// roots (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG) live in the
// machine store `/var/lib/morvil/registry.db`, one tree each; only root may write it, everybody
// else opens it read-only. With MORVIL_REGISTRY_DIR set, the stores are `$DIR/user.db` and
// `$DIR/machine.db` instead (tests).
//
// Each Create/OpenExisting opens its own database connection, closed with the key. Not
// thread-safe; use a key on the thread that opened it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/result.h"
#include "base/text.h"
#include "platform/registry_store.h"

// The predefined roots, with the platform's handle values.
enum class RegistryRoot : uint32_t {
  kClassesRoot = 0x80000000,
  kCurrentUser = 0x80000001,
  kLocalMachine = 0x80000002,
  kUsers = 0x80000003,
  kCurrentConfig = 0x80000005,
};

class RegistryKey {
 public:
  // Opens `subkey` under `root`, creating it and any missing parents; needs write access to the
  // store even when the key exists (kRegistryAccessDenied otherwise). `subkey` separates names
  // with '\'; one trailing '\' is allowed, an empty name elsewhere is kRegistryBadPath; an empty
  // subkey is the root itself.
  [[nodiscard]] static Result<RegistryKey> Create(RegistryRoot root, TextView subkey);
  // Opens an existing key for reading and writing values as the store allows; kRegistryNotFound
  // when it is missing.
  [[nodiscard]] static Result<RegistryKey> OpenExisting(RegistryRoot root, TextView subkey);

  // Removes an existing key with its values and subkeys; kRegistryNotFound when it (or its
  // store) is missing, kRegistryAccessDenied where the store is read-only.
  [[nodiscard]] static Result<void> Delete(RegistryRoot root, TextView subkey);

  [[nodiscard]] Result<RegistryValue> QueryValue(TextView name) const;
  [[nodiscard]] Result<void> SetValue(TextView name, const RegistryValue& value);

  // The database file that holds `root`'s tree, as chosen from the environment now.
  [[nodiscard]] static std::string StorePath(RegistryRoot root);

 private:
  RegistryKey(std::unique_ptr<RegistryStore> store, int64_t id);
  std::unique_ptr<RegistryStore> store_;
  int64_t id_ = 0;
};
