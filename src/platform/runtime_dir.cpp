#include "platform/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

Result<void> EnsurePrivateDirectory(const std::filesystem::path& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return Error::FromErrno("mkdir");
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return Error::FromErrno("lstat");
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return Error{EPERM, "not our directory"};
  if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return Error::FromErrno("chmod");
  return {};
}

}  // namespace

Result<std::filesystem::path> RuntimeDirectory() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  std::filesystem::path dir;
  if (xdg && *xdg) {
    dir = std::filesystem::path(xdg) / "morvil";
  } else {
    dir = "/tmp/morvil-" + std::to_string(::getuid());
  }
  if (auto ok = EnsurePrivateDirectory(dir); !ok) return ok.error();
  return dir;
}
