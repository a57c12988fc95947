#include "platform/runtime_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/unique_fd.h"

namespace {

// Makes `dir` (mode 0700) unless it exists, then checks what is there without following a
// symbolic link: a directory of ours, nobody else's bits set.
Result<std::filesystem::path> MakePrivateDirectory(const std::filesystem::path& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    return Error::FromErrno("mkdir " + dir.string());
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return Error::FromErrno("open " + dir.string());
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Error::FromErrno("fstat " + dir.string());
  if (st.st_uid != ::geteuid()) return Error{EPERM, dir.string() + " belongs to another user"};
  if ((st.st_mode & 077) != 0 && ::fchmod(fd.get(), 0700) != 0)
    return Error::FromErrno("fchmod " + dir.string());
  return dir;
}

}  // namespace

Result<std::filesystem::path> PrivateSubdirectory(const std::filesystem::path& parent,
                                                  const char* name) {
  return MakePrivateDirectory(parent / name);
}

Result<std::filesystem::path> RuntimeDirectory() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && xdg[0] == '/') return MakePrivateDirectory(std::filesystem::path(xdg) / "morvil");
  return MakePrivateDirectory("/tmp/morvil-" + std::to_string(::geteuid()));
}
