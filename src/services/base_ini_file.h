// The INI helper of one script call. A bare file name (no directory) names a file in the user's
// morvil configuration directory ($XDG_CONFIG_HOME/morvil), where the platform keeps profile
// files named without a directory; the existence test, the creation and the profile functions
// all use that same file. Not thread-safe.
#pragma once

#include <string>

#include "base/text.h"
#include "base/win_types.h"

class CBaseIniFile {
 public:
  // Remembers the path and searches for it (find-first rules, wildcards included). With
  // `create`, a missing file is made empty (an existing one is never truncated; the morvil
  // directory is made for a bare name). The exists flag.
  BOOL Open(const Text& path, BOOL create);
  // The value (at most 1023 units) into `out`; TRUE when it is not empty. FALSE without a file.
  BOOL ReadString(const Text& section, const Text& key, Text& out);
  // Writes the key; FALSE without a file or when the write fails.
  BOOL WriteString(const Text& section, const Text& key, const Text& value);

  [[nodiscard]] BOOL exists() const { return m_bExists; }
  // Where the file is on disk.
  [[nodiscard]] std::string FileSystemPath() const;

 private:
  Text m_strPath;
  BOOL m_bExists = FALSE;
};
