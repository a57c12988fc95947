// The cgroup (v2) of a process: reading it from /proc and moving a process into another one.
// Thread-safe.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

// Where the cgroup v2 hierarchy is mounted.
inline constexpr const char* kCgroupRoot = "/sys/fs/cgroup";

// The cgroup v2 path of a process ("/user.slice/..."), from /proc/PID/cgroup; nullopt when the
// process is gone or has no cgroup v2 entry.
[[nodiscard]] std::optional<std::string> CgroupOf(pid_t pid);

// The directory of `cgroup`, a path as CgroupOf gives it; nullopt for one that climbs ("..").
[[nodiscard]] std::optional<std::filesystem::path> CgroupDirectory(const std::string& cgroup);

// Moves process `pid` into the cgroup whose directory is `dir` (its id written to cgroup.procs);
// false, with errno set, when it cannot.
[[nodiscard]] bool WritePidToCgroup(const std::filesystem::path& dir, pid_t pid);
