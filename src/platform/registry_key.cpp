#include "platform/registry_key.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/config_directory.h"

namespace {

constexpr const char* kMachineStoreDir = "/var/lib/morvil";

bool IsUserRoot(RegistryRoot root) {
  return root == RegistryRoot::kCurrentUser;
}

std::string HiveName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case RegistryRoot::kCurrentUser:
      return "HKEY_CURRENT_USER";
    case RegistryRoot::kLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case RegistryRoot::kUsers:
      return "HKEY_USERS";
    case RegistryRoot::kCurrentConfig:
      return "HKEY_CURRENT_CONFIG";
  }
  return "";
}

std::string RelocatedDirectory() {
  const char* dir = std::getenv("MORVIL_REGISTRY_DIR");
  return dir && *dir ? dir : "";
}

std::string DirectoryOf(const std::string& file) {
  return file.substr(0, file.find_last_of('/'));
}

// Splits "a\b\c\" into {a, b, c}; only one trailing separator is dropped, so "a\\b" keeps its
// empty name for the store to refuse.
std::vector<Text> SplitKeyPath(TextView subkey) {
  std::vector<Text> parts;
  if (subkey.empty()) return parts;
  if (subkey.back() == u'\\') subkey.remove_suffix(1);
  size_t start = 0;
  for (;;) {
    size_t sep = subkey.find(u'\\', start);
    parts.emplace_back(subkey.substr(start, sep - start));
    if (sep == TextView::npos) break;
    start = sep + 1;
  }
  return parts;
}

enum class Intent { kRead, kCreate };

Result<std::unique_ptr<RegistryStore>> OpenStoreFor(RegistryRoot root, Intent intent) {
  std::string file = RegistryKey::StorePath(root);
  if (IsUserRoot(root)) {
    if (!EnsurePrivateDirectory(DirectoryOf(file))) return Error::FromErrno("registry directory");
    return RegistryStore::Open(file, RegistryStore::Access::kReadWrite,
                               RegistryStore::Journal::kWal);
  }
  if (geteuid() != 0) {
    if (access(file.c_str(), F_OK) != 0) {
      return Error{intent == Intent::kCreate ? kRegistryAccessDenied : kRegistryNotFound,
                   "machine store"};
    }
    return RegistryStore::Open(file, RegistryStore::Access::kReadOnly,
                               RegistryStore::Journal::kRollback);
  }
  if (!EnsureDirectory(DirectoryOf(file), 0755)) return Error::FromErrno("registry directory");
  return RegistryStore::Open(file, RegistryStore::Access::kReadWrite,
                             RegistryStore::Journal::kRollback);
}

}  // namespace

std::string RegistryKey::StorePath(RegistryRoot root) {
  std::string relocated = RelocatedDirectory();
  if (!relocated.empty()) return relocated + (IsUserRoot(root) ? "/user.db" : "/machine.db");
  if (IsUserRoot(root)) return MorvilConfigDirectory() + "/registry.db";
  return std::string(kMachineStoreDir) + "/registry.db";
}

RegistryKey::RegistryKey(std::unique_ptr<RegistryStore> store, int64_t id)
    : store_(std::move(store)), id_(id) {}

Result<RegistryKey> RegistryKey::Create(RegistryRoot root, TextView subkey) {
  auto store = OpenStoreFor(root, Intent::kCreate);
  if (!store) return store.error();
  auto id = (*store)->CreateKey(HiveName(root), SplitKeyPath(subkey));
  if (!id) return id.error();
  return RegistryKey(std::move(*store), *id);
}

Result<RegistryKey> RegistryKey::OpenExisting(RegistryRoot root, TextView subkey) {
  auto store = OpenStoreFor(root, Intent::kRead);
  if (!store) return store.error();
  auto id = (*store)->FindKey(HiveName(root), SplitKeyPath(subkey));
  if (!id) return id.error();
  return RegistryKey(std::move(*store), *id);
}

Result<void> RegistryKey::Delete(RegistryRoot root, TextView subkey) {
  // Nothing to delete in a store that does not exist; opening it would create it.
  if (access(StorePath(root).c_str(), F_OK) != 0) return Error{kRegistryNotFound, "store"};
  auto key = OpenExisting(root, subkey);
  if (!key) return key.error();
  return key->store_->DeleteKey(key->id_);
}

Result<RegistryValue> RegistryKey::QueryValue(TextView name) const {
  return store_->ReadValue(id_, name);
}

Result<void> RegistryKey::SetValue(TextView name, const RegistryValue& value) {
  return store_->WriteValue(id_, name, value);
}
