#include "platform/config_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "base/unique_fd.h"

namespace {

constexpr mode_t kGroupAndOther = S_IRWXG | S_IRWXO;

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  struct passwd* pw = getpwuid(getuid());
  return pw && pw->pw_dir ? pw->pw_dir : "/";
}

// Drops group and other bits from what `fd` names, when the user owns it.
bool RestrictDescriptor(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if ((st.st_mode & kGroupAndOther) == 0) return true;
  if (st.st_uid != geteuid()) return false;
  return fchmod(fd, st.st_mode & (S_IRWXU | S_ISVTX)) == 0;
}

std::string Normal(const std::string& path) {
  std::string normal = std::filesystem::path(path).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

}  // namespace

std::string UserConfigDirectory() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return config;
  std::string home = HomeDirectory();
  if (!home.empty() && home.back() == '/') home.pop_back();
  return home + "/.config";
}

std::string MorvilConfigDirectory() {
  return UserConfigDirectory() + "/morvil";
}

bool EnsureDirectory(const std::string& dir, unsigned mode) {
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (!EnsureDirectory(dir.substr(0, slash), mode)) return false;
  }
  if (mkdir(dir.c_str(), mode) == 0 || errno == EEXIST) {
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

bool EnsurePrivateDirectory(const std::string& dir) {
  if (!EnsureDirectory(dir, 0700)) return false;
  UniqueFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd && RestrictDescriptor(fd.get());
}

bool RestrictToOwner(const std::string& path) {
  // By path, never by a descriptor of our own: closing one would drop the POSIX locks that other
  // descriptors of this process (a database connection's) hold on the file.
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISLNK(st.st_mode)) return false;
  if ((st.st_mode & kGroupAndOther) == 0) return true;
  if (st.st_uid != geteuid()) return false;
  return chmod(path.c_str(), st.st_mode & (S_IRWXU | S_ISVTX)) == 0;
}

bool IsInMorvilConfigDirectory(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  const std::string dir = Normal(MorvilConfigDirectory());
  const std::string normal = Normal(path);
  return normal == dir || (normal.size() > dir.size() && normal.compare(0, dir.size(), dir) == 0 &&
                           normal[dir.size()] == '/');
}

unsigned NewDirectoryMode(const std::string& path) {
  return IsInMorvilConfigDirectory(path) ? 0700 : 0777;
}

void ProtectWrittenFile(const std::string& path) {
  if (IsInMorvilConfigDirectory(path)) (void)RestrictToOwner(path);
}

void SecureMorvilConfigDirectory() {
  const std::string dir = MorvilConfigDirectory();
  UniqueFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd || !RestrictDescriptor(fd.get())) return;
  std::unique_ptr<DIR, int (*)(DIR*)> listing(fdopendir(dup(fd.get())), closedir);
  if (!listing) return;
  while (dirent* entry = readdir(listing.get())) {
    struct stat st;
    if (fstatat(fd.get(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      (void)RestrictToOwner(dir + "/" + entry->d_name);
  }
}
