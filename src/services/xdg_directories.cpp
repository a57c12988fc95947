#include "services/xdg_directories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? WithoutTrailingSlash(value) : std::string();
}

// One value of user-dirs.dirs: "$HOME/rest" or "/absolute", in double quotes, with backslash
// escapes as the shell reads them.
std::string ParseUserDirValue(std::string_view quoted, const std::string& home) {
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return {};
  quoted = quoted.substr(1, quoted.size() - 2);
  std::string path;
  if (quoted.substr(0, 5) == "$HOME") {
    if (home.empty()) return {};
    path = home;
    quoted.remove_prefix(5);
  } else if (quoted.empty() || quoted.front() != '/') {
    return {};
  }
  for (size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] == '\\' && i + 1 < quoted.size()) ++i;
    path += quoted[i];
  }
  return WithoutTrailingSlash(path);
}

}  // namespace

std::string HomeDirectory() {
  std::string home = AbsoluteEnv("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
    return WithoutTrailingSlash(pw->pw_dir);
  return {};
}

std::string ConfigHome() {
  std::string dir = AbsoluteEnv("XDG_CONFIG_HOME");
  if (!dir.empty()) return dir;
  std::string home = HomeDirectory();
  return home.empty() ? std::string() : home + "/.config";
}

std::string DataHome() {
  std::string dir = AbsoluteEnv("XDG_DATA_HOME");
  if (!dir.empty()) return dir;
  std::string home = HomeDirectory();
  return home.empty() ? std::string() : home + "/.local/share";
}

std::string UserDirectory(const std::string& name) {
  std::string config = ConfigHome();
  if (config.empty()) return {};
  std::ifstream in(config + "/user-dirs.dirs");
  const std::string key = "XDG_" + name + "_DIR=";
  const std::string home = HomeDirectory();
  std::string found;
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size(), key) == 0)
      found = ParseUserDirValue(std::string_view(line).substr(key.size()), home);
  }
  if (found == home) return {};
  return found;
}
