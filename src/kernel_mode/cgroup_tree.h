// The user's accelerated cgroups on the cgroup v2 hierarchy mounted at /sys/fs/cgroup:
// morvil/u<uid> (the launcher's group) and below it one group g<N> per accelerated program.
// No controller is enabled in them, so processes may live at every level. Not thread-safe.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/process_cgroup.h"
#include "base/result.h"
#include "kernel_mode/user_keys.h"

class CgroupTree {
 public:
  // Creates the user's cgroup (and morvil/ when missing); fails when /sys/fs/cgroup is not a
  // cgroup v2 hierarchy.
  [[nodiscard]] static Result<CgroupTree> Create(const UserKeys& keys);

  // The directory of `group` (kLauncherGroup: the user's cgroup).
  [[nodiscard]] std::filesystem::path Directory(uint32_t group) const;
  [[nodiscard]] Result<void> CreateGroup(uint32_t group);
  // Moves process `pid` into `group`.
  [[nodiscard]] Result<void> Move(pid_t pid, uint32_t group) const;
  // The processes in `group` itself (not in groups below it).
  [[nodiscard]] std::vector<pid_t> Members(uint32_t group) const;
  // Removes an empty group; false while processes remain in it.
  bool RemoveGroup(uint32_t group);

  // Moves every process left in the user's cgroups to the root cgroup, then removes them, and
  // morvil/ when no other user's cgroup is left in it. For a component that did not end cleanly.
  static void RemoveAll(const UserKeys& keys);

 private:
  explicit CgroupTree(std::filesystem::path user_dir) : user_dir_(std::move(user_dir)) {}
  std::filesystem::path user_dir_;
};

// Moves `pid` into the cgroup at `path` (as CgroupOf gives it); when that group is gone, into
// the root cgroup.
void MoveBack(pid_t pid, const std::string& path);
