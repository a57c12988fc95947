// The kernel-mode component's status for one user, which the component writes to
// <system dir>/users/<uid>/status and replaces at least once a second while it runs:
//
//   mode kernel
//   component <pid>
//   updated <unix time in seconds>
//   cgroup <absolute path of the user's accelerated cgroup>
//   proxy <host> <port>                                     (while acceleration is on)
//   program <pid> <bytes up> <bytes down> <path>            (one per accelerated process)
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "base/result.h"

struct ComponentStatus {
  std::string text;    // the file's content
  std::string cgroup;  // the accelerated cgroup it names; empty when none
};

// The status of `uid` when the component runs for it: a regular root-owned file, no larger
// than a status can be, naming a live component process, updated within the last few seconds
// (a component that died leaves a file whose process id may belong to another process by now).
[[nodiscard]] std::optional<ComponentStatus> ReadComponentStatus(
    const std::filesystem::path& system_dir, uid_t uid);

// `text` made to fit one answer of at most `max_units` UTF-16 units: every line that is not a
// program line, then as many program lines as fit, then "more <n>" counting those left out.
[[nodiscard]] std::string FitStatus(const std::string& text, size_t max_units);

// Moves process `pid` into the cgroup directory `cgroup`, which must lie under
// /sys/fs/cgroup/.
[[nodiscard]] Result<void> MoveIntoCgroup(pid_t pid, const std::string& cgroup);

// The cgroup directory process `pid` is in (cgroup v2), under /sys/fs/cgroup/.
[[nodiscard]] std::optional<std::string> CgroupDirectoryOf(pid_t pid);
