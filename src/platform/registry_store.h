// One registry store: a tree of keys with typed values in an SQLite database. Key and value names
// compare case-insensitively (each code point folded to upper case, independent of the locale, so
// every process finds the same rows); names keep the spelling they were created with. Each write
// is one `BEGIN IMMEDIATE` transaction, so several writer processes never lose an update and a
// writer killed mid-write leaves every committed value in place.
//
// A store holds several trees, one per hive name ("HKEY_CURRENT_USER", ...). The per-user store is
// opened in WAL mode; the machine store keeps a rollback journal, so users who may only read it
// need no writable side file.
//
// Not thread-safe: use one store object per thread. Every call is short local I/O that may wait up
// to the busy timeout for another writer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/text.h"

// Value types, with the platform's numbers.
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_DWORD = 4;

// Error codes in `Error::code`, with the platform's numbers.
inline constexpr int kRegistryNotFound = 2;        // no such key or value
inline constexpr int kRegistryAccessDenied = 5;    // store read-only for this user
inline constexpr int kRegistryBadPath = 161;       // empty or over-long key name component
inline constexpr int kRegistryBusy = 170;          // another writer held the store too long
inline constexpr int kRegistryStoreFailed = 1009;  // the database failed or is damaged

struct RegistryValue {
  uint32_t type = 0;
  std::string data;  // the value's bytes exactly as written
  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

class RegistryStore {
 public:
  enum class Access { kReadOnly, kReadWrite };
  enum class Journal { kWal, kRollback };

  // Opens the database `file`. kReadWrite creates the file (mode 0600 for kWal, 0644 for
  // kRollback) and its schema when missing; kReadOnly never writes and fails when the file is
  // missing.
  [[nodiscard]] static Result<std::unique_ptr<RegistryStore>> Open(const std::string& file,
                                                                   Access access, Journal journal);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  [[nodiscard]] bool read_only() const;

  // The id of the key reached from the hive's top through `path`; kRegistryNotFound when any
  // part is missing. An empty path names the hive's top key.
  [[nodiscard]] Result<int64_t> FindKey(const std::string& hive, const std::vector<Text>& path);
  // The same, creating every missing key on the way in one transaction.
  [[nodiscard]] Result<int64_t> CreateKey(const std::string& hive, const std::vector<Text>& path);

  // kRegistryNotFound when the key has no value of that name. "" names the default value.
  [[nodiscard]] Result<RegistryValue> ReadValue(int64_t key, TextView name);
  // Creates or replaces the value; kRegistryNotFound when the key no longer exists.
  [[nodiscard]] Result<void> WriteValue(int64_t key, TextView name, const RegistryValue& value);

  // Removes the key with its values and every key below it, in one transaction;
  // kRegistryNotFound when the key no longer exists.
  [[nodiscard]] Result<void> DeleteKey(int64_t key);

  // Upper-case folding used for names: each code point mapped on its own, pairs kept whole.
  [[nodiscard]] static Text FoldName(TextView name);

 private:
  struct Impl;
  explicit RegistryStore(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};
