#include "platform/profile_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/unique_fd.h"
#include "platform/config_directory.h"
#include "platform/file_replacement.h"
#include "platform/ini_document.h"

namespace {

// Reads without a lock: a replacement renames a whole new file in, so a reader sees one file.
bool ReadWhole(const std::string& file, std::string& out) {
  UniqueFd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return false;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace

Text ReadProfileString(const std::string& file, TextView section, TextView key, TextView fallback,
                       size_t capacity) {
  std::string bytes;
  Text value(fallback);
  if (ReadWhole(file, bytes)) {
    if (auto found = IniDocument(bytes).Find(section, key)) value = std::move(*found);
  }
  if (capacity == 0) return Text();
  if (value.size() > capacity - 1) value.resize(capacity - 1);
  return value;
}

Result<void> WriteProfileString(const std::string& file, TextView section, TextView key,
                                TextView value) {
  auto update = FileReplacement::Begin(file, FileReplacement::LockWait::kBriefly);
  if (!update) return update.error();
  auto current = update->ReadCurrent();
  if (!current) return current.error();
  IniDocument doc(*current);
  if (auto r = doc.Set(section, key, value); !r) return r;
  if (auto r = update->Commit(doc.Serialize()); !r) return r;
  ProtectWrittenFile(file);
  return {};
}
