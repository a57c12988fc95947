#include "kernel_mode/cgroup_tree.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <fstream>

namespace {

std::filesystem::path MorvilDirectory() {
  return std::filesystem::path(kCgroupRoot) / "morvil";
}

std::vector<pid_t> ReadPids(const std::filesystem::path& group) {
  std::vector<pid_t> pids;
  std::ifstream in(group / "cgroup.procs");
  for (long pid = 0; in >> pid;)
    if (pid > 0) pids.push_back(static_cast<pid_t>(pid));
  return pids;
}

// Moves every process below `dir` to the root cgroup and removes the directories, deepest first.
void Evacuate(const std::filesystem::path& dir) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
    if (entry.is_directory(ec) && !entry.is_symlink(ec)) Evacuate(entry.path());
  for (pid_t pid : ReadPids(dir)) (void)WritePidToCgroup(kCgroupRoot, pid);
  ::rmdir(dir.c_str());
}

}  // namespace

Result<CgroupTree> CgroupTree::Create(const UserKeys& keys) {
  struct statfs fs {};
  if (::statfs(kCgroupRoot, &fs) != 0 || fs.f_type != CGROUP2_SUPER_MAGIC)
    return Error{ENOTSUP, std::string(kCgroupRoot) + " is not a cgroup v2 hierarchy"};
  std::filesystem::path user_dir = MorvilDirectory() / keys.name;
  for (const std::filesystem::path& dir : {MorvilDirectory(), user_dir})
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
      return Error::FromErrno("mkdir " + dir.string());
  return CgroupTree(user_dir);
}

std::filesystem::path CgroupTree::Directory(uint32_t group) const {
  if (group == kLauncherGroup) return user_dir_;
  return user_dir_ / ("g" + std::to_string(group));
}

Result<void> CgroupTree::CreateGroup(uint32_t group) {
  if (::mkdir(Directory(group).c_str(), 0755) != 0 && errno != EEXIST)
    return Error::FromErrno("mkdir " + Directory(group).string());
  return {};
}

Result<void> CgroupTree::Move(pid_t pid, uint32_t group) const {
  if (!WritePidToCgroup(Directory(group), pid)) return Error::FromErrno("move to cgroup");
  return {};
}

std::vector<pid_t> CgroupTree::Members(uint32_t group) const {
  return ReadPids(Directory(group));
}

bool CgroupTree::RemoveGroup(uint32_t group) {
  return ::rmdir(Directory(group).c_str()) == 0 || errno == ENOENT;
}

void CgroupTree::RemoveAll(const UserKeys& keys) {
  std::filesystem::path user_dir = MorvilDirectory() / keys.name;
  std::error_code ec;
  if (std::filesystem::is_directory(user_dir, ec)) Evacuate(user_dir);
  ::rmdir(MorvilDirectory().c_str());  // fails while other users' groups are in it
}

void MoveBack(pid_t pid, const std::string& path) {
  std::optional<std::filesystem::path> group = CgroupDirectory(path);
  if (!group || !WritePidToCgroup(*group, pid)) (void)WritePidToCgroup(kCgroupRoot, pid);
}
