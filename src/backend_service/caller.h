// What the service knows of the process at the other end of a connection, and what it reads of
// that process on its behalf.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

// The peer's credentials as the kernel recorded them when it connected (SO_PEERCRED).
struct Caller {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
};

// The caller's primary group: from the user database, else the group it connected with.
[[nodiscard]] gid_t PrimaryGroup(const Caller& caller);

// The caller's runtime directory: XDG_RUNTIME_DIR of the calling process when that is a
// directory owned by the caller that nobody else can write, else /run/user/<uid>.
[[nodiscard]] std::filesystem::path CallerRuntimeDirectory(const Caller& caller);

// True when every user id of process `pid` (real, effective, saved, file system) is `uid`.
[[nodiscard]] bool ProcessBelongsTo(pid_t pid, uid_t uid);
