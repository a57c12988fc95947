// The cgroup (v2) a process is in, read from /proc. Thread-safe.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// The cgroup v2 path of a process ("/user.slice/..."), from /proc/PID/cgroup; nullopt when the
// process is gone or has no cgroup v2 entry.
[[nodiscard]] std::optional<std::string> CgroupOf(pid_t pid);
