#include "kernel_mode/process_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/unique_fd.h"
#include "lsp/wine_program_path.h"

namespace {

std::string ProcPath(pid_t pid, const char* file) {
  return "/proc/" + std::to_string(pid) + "/" + file;
}

// Up to `limit` bytes of a /proc file.
std::string ReadBounded(const std::string& path, size_t limit) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return {};
  std::string data;
  char buffer[4096];
  while (data.size() < limit) {
    ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, limit - data.size()));
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

std::string ReadLink(const std::string& path) {
  char target[4096];
  ssize_t n = ::readlink(path.c_str(), target, sizeof target);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof target) return {};
  return std::string(target, static_cast<size_t>(n));
}

}  // namespace

std::optional<ProcessOwner> OwnerOf(pid_t pid) {
  std::string status = ReadBounded(ProcPath(pid, "status"), 16384);
  size_t at = status.find("\nUid:");
  if (at == std::string::npos) return std::nullopt;
  unsigned long real = 0, effective = 0;
  if (std::sscanf(status.c_str() + at + 5, "%lu %lu", &real, &effective) != 2) return std::nullopt;
  return ProcessOwner{static_cast<uid_t>(real), static_cast<uid_t>(effective)};
}

std::optional<uint64_t> StartTimeOf(pid_t pid) {
  std::string stat = ReadBounded(ProcPath(pid, "stat"), 4096);
  size_t close = stat.rfind(')');  // the name may hold blanks and parentheses
  if (close == std::string::npos) return std::nullopt;
  const char* field = stat.c_str() + close + 2;  // field 3
  for (int i = 3; i < 22; ++i) {
    field = std::strchr(field, ' ');
    if (field == nullptr) return std::nullopt;
    ++field;
  }
  uint64_t start = 0;
  if (std::sscanf(field, "%" SCNu64, &start) != 1) return std::nullopt;
  return start;
}

std::string ExecutableOf(pid_t pid) {
  return ReadLink(ProcPath(pid, "exe"));
}

std::string CommandLineOf(pid_t pid) {
  return ReadBounded(ProcPath(pid, "cmdline"), 65536);
}

std::optional<std::string> EnvironmentOf(pid_t pid, const std::string& name) {
  std::string environ = ReadBounded(ProcPath(pid, "environ"), 1 << 20);
  const std::string key = name + "=";
  for (size_t at = 0; at < environ.size();) {
    size_t end = environ.find('\0', at);
    if (end == std::string::npos) end = environ.size();
    if (environ.compare(at, key.size(), key) == 0)
      return environ.substr(at + key.size(), end - at - key.size());
    at = end + 1;
  }
  return std::nullopt;
}

std::string WorkingDirectoryOf(pid_t pid) {
  return ReadLink(ProcPath(pid, "cwd"));
}

std::vector<pid_t> AllProcesses() {
  std::vector<pid_t> pids;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir("/proc"), ::closedir);
  if (!dir) return pids;
  while (dirent* entry = ::readdir(dir.get())) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (*end == '\0' && pid > 0) pids.push_back(static_cast<pid_t>(pid));
  }
  return pids;
}

std::string ProgramPathOf(pid_t pid) {
  std::string exe = ExecutableOf(pid);
  if (exe.empty()) return {};
  if (!IsWineLoader(exe.c_str())) return exe;
  std::string cmdline = CommandLineOf(pid);
  char path[4096];
  size_t n = ProgramPathToAsk(exe.c_str(), cmdline.data(), cmdline.size(), path, sizeof path);
  return n == 0 ? exe : std::string(path, n);
}

std::optional<std::string> WineServerDirectoryOf(pid_t pid) {
  if (!IsWineLoader(ExecutableOf(pid).c_str())) return std::nullopt;
  std::optional<std::string> prefix = EnvironmentOf(pid, "WINEPREFIX");
  if (!prefix || prefix->empty()) {
    std::optional<std::string> home = EnvironmentOf(pid, "HOME");
    if (!home || home->empty()) return std::nullopt;
    prefix = *home + "/.wine";
  }
  // The prefix is read as the process sees it: relative to its own root and directory.
  std::string path = *prefix;
  if (path[0] != '/') path = WorkingDirectoryOf(pid) + "/" + path;
  struct stat st {};
  if (::stat((ProcPath(pid, "root") + path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return std::nullopt;
  char name[64];
  std::snprintf(name, sizeof name, "server-%" PRIx64 "-%" PRIx64, static_cast<uint64_t>(st.st_dev),
                static_cast<uint64_t>(st.st_ino));
  return std::string(name);
}

bool IsWineServer(pid_t pid) {
  std::string exe = ExecutableOf(pid);
  size_t slash = exe.rfind('/');
  return exe.compare(slash == std::string::npos ? 0 : slash + 1, 10, "wineserver") == 0;
}
