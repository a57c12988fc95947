#include "base/process_cgroup.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "base/unique_fd.h"

std::optional<std::string> CgroupOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cgroup");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with("0::/")) return line.substr(3);
  return std::nullopt;
}

std::optional<std::filesystem::path> CgroupDirectory(const std::string& cgroup) {
  if (!cgroup.starts_with('/') || cgroup.find("/..") != std::string::npos) return std::nullopt;
  return std::filesystem::path(kCgroupRoot) / cgroup.substr(1);
}

bool WritePidToCgroup(const std::filesystem::path& dir, pid_t pid) {
  UniqueFd procs(::open((dir / "cgroup.procs").c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!procs) return false;
  const std::string text = std::to_string(pid) + '\n';
  return ::write(procs.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}
