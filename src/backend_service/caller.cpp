#include "backend_service/caller.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"

namespace {

constexpr size_t kEnvironLimit = 1 << 20;

// Up to `limit` bytes of a /proc file.
std::string ReadProcFile(const std::string& path, size_t limit) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string content;
  if (!fd) return content;
  char buffer[4096];
  while (content.size() < limit) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  if (content.size() > limit) content.resize(limit);
  return content;
}

}  // namespace

gid_t PrimaryGroup(const Caller& caller) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(caller.uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->pw_gid;
  return caller.gid;
}

std::filesystem::path CallerRuntimeDirectory(const Caller& caller) {
  std::filesystem::path fallback = "/run/user/" + std::to_string(caller.uid);
  std::string environ =
      ReadProcFile("/proc/" + std::to_string(caller.pid) + "/environ", kEnvironLimit);
  constexpr std::string_view kName = "XDG_RUNTIME_DIR=";
  std::string_view rest(environ);
  while (!rest.empty()) {
    size_t end = rest.find('\0');
    std::string_view entry = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!entry.starts_with(kName)) continue;
    std::string dir(entry.substr(kName.size()));
    struct stat st {};
    if (dir.empty() || dir[0] != '/' || ::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != caller.uid || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
      return fallback;
    return dir;
  }
  return fallback;
}

bool ProcessBelongsTo(pid_t pid, uid_t uid) {
  std::istringstream status(ReadProcFile("/proc/" + std::to_string(pid) + "/status", 1 << 16));
  std::string line;
  while (std::getline(status, line)) {
    if (!line.starts_with("Uid:")) continue;
    std::istringstream ids(line.substr(4));
    long long id = 0;
    int count = 0;
    while (ids >> id) {
      if (id != static_cast<long long>(uid)) return false;
      ++count;
    }
    return count == 4;
  }
  return false;
}
