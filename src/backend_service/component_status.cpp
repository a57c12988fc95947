#include "backend_service/component_status.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <sstream>
#include <vector>

#include "base/process_cgroup.h"
#include "base/text.h"
#include "base/unique_fd.h"

namespace {

constexpr off_t kStatusLimit = 256 * 1024;
constexpr long long kFreshSeconds = 5;

size_t Units(const std::string& utf8) {
  return FromUtf8(utf8).size();
}

std::optional<std::string> ReadRootFile(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != 0 ||
      st.st_size > kStatusLimit)
    return std::nullopt;
  std::string content(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::read(fd.get(), content.data() + done, content.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  content.resize(done);
  return content;
}

bool IsAlive(long long pid) {
  return pid > 0 && pid <= INT32_MAX && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

std::optional<ComponentStatus> ReadComponentStatus(const std::filesystem::path& system_dir,
                                                   uid_t uid) {
  std::optional<std::string> text =
      ReadRootFile(system_dir / "users" / std::to_string(uid) / "status");
  if (!text) return std::nullopt;
  ComponentStatus status{*text, {}};
  bool kernel = false;
  bool alive = false;
  bool fresh = false;
  std::istringstream lines(*text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    long long number = 0;
    if (key == "mode") {
      std::string mode;
      kernel = (fields >> mode) && mode == "kernel";
    } else if (key == "component") {
      alive = (fields >> number) && IsAlive(number);
    } else if (key == "updated") {
      long long now = static_cast<long long>(std::time(nullptr));
      fresh = (fields >> number) && number <= now + 1 && now - number <= kFreshSeconds;
    } else if (key == "cgroup") {
      status.cgroup = line.substr(line.find(' ') + 1);
    }
  }
  if (!kernel || !alive || !fresh) return std::nullopt;
  return status;
}

std::string FitStatus(const std::string& text, size_t max_units) {
  std::vector<std::string> programs;
  std::string fitted;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.starts_with("program ")) {
      programs.push_back(line);
    } else if (!line.empty()) {
      fitted += line + '\n';
    }
  }
  size_t total = Units(fitted);
  for (const std::string& program : programs) total += Units(program) + 1;
  if (total <= max_units) {
    for (const std::string& program : programs) fitted += program + '\n';
    return fitted;
  }
  // Room is kept for the closing count, written as long as it can be.
  const size_t count_units = Units("more " + std::to_string(programs.size()) + '\n');
  size_t used = Units(fitted) + count_units;
  size_t kept = 0;
  while (kept < programs.size() && used + Units(programs[kept]) + 1 <= max_units) {
    used += Units(programs[kept]) + 1;
    fitted += programs[kept++] + '\n';
  }
  return fitted + "more " + std::to_string(programs.size() - kept) + '\n';
}

Result<void> MoveIntoCgroup(pid_t pid, const std::string& cgroup) {
  std::filesystem::path dir(cgroup);
  if (!cgroup.starts_with(std::string(kCgroupRoot) + '/') || dir.lexically_normal() != dir)
    return Error{EINVAL, "not a cgroup directory: " + cgroup};
  for (const auto& part : dir)
    if (part == "..") return Error{EINVAL, "not a cgroup directory: " + cgroup};
  if (!WritePidToCgroup(dir, pid)) return Error::FromErrno("move into " + cgroup);
  return {};
}

std::optional<std::string> CgroupDirectoryOf(pid_t pid) {
  std::optional<std::string> cgroup = CgroupOf(pid);
  std::optional<std::filesystem::path> dir = cgroup ? CgroupDirectory(*cgroup) : std::nullopt;
  if (!dir) return std::nullopt;
  return dir->string();
}
