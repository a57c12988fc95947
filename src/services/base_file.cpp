#include "services/base_file.h"

#include "services/page_path.h"

BOOL CBaseFile::Open(const Text& path, uint32_t flags) {
  if (path.size() >= kMaxPath) return FALSE;
  return OpenPath(ToFileSystemPath(path), flags) ? TRUE : FALSE;
}
