#include "services/file_methods.h"

#include <vector>

#include "base/path.h"
#include "platform/ansi_codec.h"
#include "platform/config_directory.h"
#include "platform/file_operations.h"
#include "platform/file_replacement.h"
#include "platform/file_search.h"
#include "services/base_file.h"
#include "services/base_ini_file.h"
#include "services/page_path.h"

namespace {

std::optional<FoundEntry> FindFirst(const Text& path) {
  if (path.size() >= kMaxPath) return std::nullopt;
  return FindFirstEntry(ToFileSystemPath(path));
}

// Deletes `dir` (whose text is `units` UTF-16 units long) and everything in it. Names travel as
// the file system's bytes, so names that are not UTF-8 are deleted too.
bool DeleteTree(const std::string& dir, size_t units) {
  // The platform searches "<dir>\*.*"; a search text that long finds nothing.
  if (units + 4 >= kMaxPath) return false;
  auto entries = ListDirectory(dir);
  if (!entries) return false;
  for (const DirectoryEntry& entry : *entries) {
    std::string child = dir + "/" + entry.name;
    if (entry.is_directory) {
      (void)DeleteTree(child, units + 1 + FromUtf8(entry.name).size());
    } else if (!DeleteOneFile(child)) {
      return false;
    }
  }
  return static_cast<bool>(RemoveEmptyDirectory(dir));
}

}  // namespace

Text ReadConfig(const Text& file, const Text& section, const Text& key) {
  CBaseIniFile ini;
  if (!ini.Open(file, FALSE)) return Text();
  Text value;
  ini.ReadString(section, key, value);
  return value;
}

bool WriteConfig(const Text& file, const Text& section, const Text& key, const Text& value) {
  CBaseIniFile ini;
  ini.Open(file, TRUE);
  if (!ini.exists()) return false;
  return ini.WriteString(section, key, value);
}

Text ReadFileContent(const Text& path) {
  CBaseFile file;
  if (!file.Open(path, LocalFile::modeRead | LocalFile::shareExclusive)) return Text();
  auto end = file.SeekToEnd();
  auto begin = file.SeekToBegin();
  if (!end || !begin) return Text();
  std::string buffer(*end - *begin + 1, '\0');
  size_t got = 0;
  while (got < buffer.size()) {
    auto n = file.Read(buffer.data() + got, buffer.size() - got);
    if (!n) return Text();
    if (*n == 0) break;
    got += *n;
  }
  if (got == 0) return Text();
  buffer.resize(got);
  size_t zero = buffer.find('\0');
  if (zero != std::string::npos) buffer.resize(zero);
  return DecodeAnsi(buffer);
}

bool WriteFileContent(const Text& path, const Text& text) {
  if (path.size() >= kMaxPath) return false;
  std::optional<std::string> bytes = EncodeAnsi(text);
  if (!bytes) return false;
  const std::string file = ToFileSystemPath(path);
  auto update = FileReplacement::Begin(file, FileReplacement::LockWait::kNo);
  if (!update || !update->Commit(*bytes)) return false;
  ProtectWrittenFile(file);
  return true;
}

bool DeleteFile(const Text& path) {
  return static_cast<bool>(DeleteOneFile(ToFileSystemPath(path)));
}

bool MoveFile(const Text& source, const Text& destination) {
  return static_cast<bool>(
      MoveWithoutReplacing(ToFileSystemPath(source), ToFileSystemPath(destination)));
}

bool FileExist(const Text& path) {
  return FindFirst(path).has_value();
}

bool FileExists(const Text& path) {
  return PathExists(ToFileSystemPath(path));
}

bool CreateDirectory(const Text& path) {
  if (path.empty()) return false;
  (void)CreateDirectory(GetParentPath(path));
  return static_cast<bool>(MakeDirectory(ToFileSystemPath(path)));
}

bool DeleteDirectory(const Text& path) {
  if (path.empty()) return false;
  Text dir = NormalizeDirPath(path);
  return DeleteTree(ToFileSystemPath(dir), dir.size());
}

bool DirectoryExist(const Text& path) {
  auto found = FindFirst(path);
  return found && found->is_directory;
}
