// Files by which a backend service running as an ordinary user tells others that it runs,
// shared with its starter: the process id, written once its pipe listens, in the user's runtime
// directory, and the lock that keeps it to one service per user.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/runtime_dir.h"

inline constexpr const char* kServicePidFile = "backend-service.pid";
inline constexpr const char16_t* kServiceLockName = u"morvil-backend-service";

// The process id file in the user's runtime directory; nullopt when there is none.
inline std::optional<std::filesystem::path> ServicePidFile() {
  auto dir = RuntimeDirectory();
  if (!dir) return std::nullopt;
  return dir.value() / kServicePidFile;
}

// True when the process id file names `pid`.
inline bool ServicePidFileNames(pid_t pid) {
  std::optional<std::filesystem::path> file = ServicePidFile();
  if (!file) return false;
  std::ifstream in(*file);
  pid_t written = 0;
  return (in >> written) && written == pid;
}
