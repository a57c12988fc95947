// The registry key helper behind the page's registry methods and the report set-up's reads.
// A path is a root name, a backslash (or '/') and the subkey path, e.g.
// "HKEY_CURRENT_USER\Software\X". One object serves one operation. Not thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "base/text.h"
#include "base/win_types.h"
#include "platform/registry_key.h"

// Statuses of the helper's operations.
inline constexpr int32_t kRegKeyDone = 0;
inline constexpr int32_t kRegKeyFailed = 1;      // key not created, value not read or set
inline constexpr int32_t kRegKeyNoRoot = 2;      // the path names no known root (Open only)
inline constexpr int32_t kRegKeyOpenFailed = 3;  // the key cannot be opened

// The root names known to `Open`, in lookup order, with their roots.
struct RegRootName {
  const char16_t* name;
  RegistryRoot root;
};
[[nodiscard]] std::span<const RegRootName> RegRootTable();

class CBaseRegKey {
 public:
  // Splits the path into root and subkey and creates/opens the key with full access (a missing
  // key is created, also before reads). 0 done, 1 key not created, 2 no known root.
  int32_t Open(const Text& path);

  // Reads a value of at most 1024 bytes as UTF-16 text up to its first zero unit, whatever its
  // type. 0 done, 1 missing or too long (`out` untouched), 3 key not openable.
  int32_t QueryString(const Text& name, Text& out);
  // Reads a value of at most 4 bytes, whatever its type, into `out` (shorter values fill its low
  // bytes and leave the rest as they were). 0, 1 or 3 as above.
  int32_t QueryDword(const Text& name, DWORD& out);
  // Stores REG_SZ: the text and a terminating zero unit. 0 done, 1 not set, 3 key not openable.
  int32_t SetString(const Text& name, const Text& text);
  // Stores REG_DWORD: 4 bytes, little-endian. 0, 1 or 3 as above.
  int32_t SetDword(const Text& name, DWORD value);

  // The write path of the script methods: the key is created when it cannot be opened, then the
  // value is set. The status of SetString/SetDword.
  int32_t WriteString(const Text& name, const Text& text);
  int32_t WriteDword(const Text& name, DWORD value);

  // Releases the key opened by Open.
  void Close();

  [[nodiscard]] std::optional<RegistryRoot> root() const { return m_root; }
  [[nodiscard]] const Text& subkey() const { return m_strSubKey; }

 private:
  // The key for value operations: the one Open made, or the existing key opened now.
  Result<RegistryKey*> ValueKey();
  int32_t QueryBytes(const Text& name, size_t capacity, std::string& out);
  int32_t SetValue(const Text& name, const RegistryValue& value);
  void CreateForWrite();

  std::optional<RegistryKey> m_key;
  std::optional<RegistryRoot> m_root;
  Text m_strSubKey;
};
