#include "platform/process_list.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <memory>
#include <optional>

namespace {

std::optional<pid_t> ParsePid(const char* name) {
  pid_t pid = 0;
  const char* end = name + std::char_traits<char>::length(name);
  auto [rest, error] = std::from_chars(name, end, pid);
  if (error != std::errc() || rest != end || pid <= 0) return std::nullopt;
  return pid;
}

std::optional<std::string> ExeName(pid_t pid) {
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char target[4096];
  ssize_t size = ::readlink(link.c_str(), target, sizeof target);
  if (size <= 0 || size == static_cast<ssize_t>(sizeof target)) return std::nullopt;
  std::string path(target, static_cast<size_t>(size));
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
  return path.substr(path.rfind('/') + 1);
}

std::optional<std::string> CommandName(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!std::getline(in, name)) return std::nullopt;
  return name;
}

}  // namespace

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> processes;
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) return processes;
  while (dirent* entry = ::readdir(proc.get())) {
    std::optional<pid_t> pid = ParsePid(entry->d_name);
    if (!pid) continue;
    std::optional<std::string> name = ExeName(*pid);
    if (!name) name = CommandName(*pid);
    if (name) processes.push_back({*pid, std::move(*name)});
  }
  std::sort(processes.begin(), processes.end(),
            [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
  return processes;
}
