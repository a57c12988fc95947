#include "platform/config_directory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  struct passwd* pw = getpwuid(getuid());
  return pw && pw->pw_dir ? pw->pw_dir : "/";
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
