// Starting programs directly (posix_spawn) and collecting their exit status. The new process
// inherits the environment and the standard streams unless asked otherwise; descriptors of ours
// are all close-on-exec and do not leak into it. Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/process_handle.h"

struct SpawnRequest {
  std::string program;                 // path of the executable; a relative path is made absolute
  std::vector<std::string> arguments;  // argv, argv[0] included
  std::string working_directory;       // empty: the caller's current directory
  bool detached = false;               // a session of its own, standard streams on /dev/null
  // The new process's whole environment ("NAME=value" entries); none: a copy of ours.
  std::optional<std::vector<std::string>> environment;
};

// Starts the program; when this returns the program runs (its exec has happened). Errors carry
// the errno of the failed start: ENOENT, EACCES, ENOEXEC, ENOTDIR, ENOMEM, E2BIG... The caller
// owns the child: it must reap it (ReapChild, or ReapWhenEnded in child_reaper.h), or it stays
// a zombie.
[[nodiscard]] Result<ProcessHandle> SpawnProcess(const SpawnRequest& request);

// Waits for a child of ours to end and reaps it. The result is its exit code (0-255), or
// 128 + the signal number when a signal ended it, as shells report it.
[[nodiscard]] Result<int> ReapChild(const ProcessHandle& child);
