#include "base/process_cgroup.h"

#include <fstream>

std::optional<std::string> CgroupOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cgroup");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with("0::/")) return line.substr(3);
  return std::nullopt;
}
