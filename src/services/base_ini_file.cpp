#include "services/base_ini_file.h"

#include "platform/config_directory.h"
#include "platform/file_search.h"
#include "platform/profile_file.h"
#include "services/base_file.h"
#include "services/page_path.h"

namespace {

// The platform's profile functions read values into a buffer of this many units.
constexpr size_t kProfileBufferUnits = 1024;

bool IsBareName(const std::string& path) {
  return path.find('/') == std::string::npos;
}

}  // namespace

std::string CBaseIniFile::FileSystemPath() const {
  std::string path = ToFileSystemPath(m_strPath);
  if (IsBareName(path) && !path.empty()) return MorvilConfigDirectory() + "/" + path;
  return path;
}

BOOL CBaseIniFile::Open(const Text& path, BOOL create) {
  m_strPath = path;
  std::string file = FileSystemPath();
  m_bExists = path.size() < kMaxPath && FindFirstEntry(file).has_value();
  if (create && !m_bExists) {
    if (IsBareName(ToFileSystemPath(path))) (void)EnsureDirectory(MorvilConfigDirectory(), 0700);
    CBaseFile created;
    m_bExists = path.size() < kMaxPath &&
                created.OpenPath(file, LocalFile::modeCreate | LocalFile::modeNoTruncate |
                                           LocalFile::modeRead | LocalFile::shareDenyNone);
    if (m_bExists) ProtectWrittenFile(file);
  }
  return m_bExists;
}

BOOL CBaseIniFile::ReadString(const Text& section, const Text& key, Text& out) {
  if (!m_bExists) return FALSE;
  out = ReadProfileString(FileSystemPath(), section, key, u"", kProfileBufferUnits);
  return out.empty() ? FALSE : TRUE;
}

BOOL CBaseIniFile::WriteString(const Text& section, const Text& key, const Text& value) {
  if (!m_bExists) return FALSE;
  return WriteProfileString(FileSystemPath(), section, key, value) ? TRUE : FALSE;
}
