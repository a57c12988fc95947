// What the backend service does for one message of a client. Every message is treated as
// hostile: only the exact texts below do anything, and each acts for the calling user only.
//
//   the install command (InstallCommand of the service's own directory)
//       runs the installer beside the service: "0" once the component runs for the caller, else
//       a text saying why not (the installer's exit code when it failed)
//   the removal command "open,<dir>/pellix.exe, -r -n "sorvan_lsp""
//       runs the installer's removal; its exit code as text
//   "status"
//       the caller's component status (component_status.h) when the component runs for it,
//       otherwise "mode preload" and a line "reason <why>"
//   "accelerate-self"
//       moves the calling process into the caller's accelerated cgroup: "0", or why not
//   anything else
//       "invalid command"
//
// As the system service (root), the installer runs as root with a clean environment that names
// the caller; as an ordinary user's service it runs as that user with our environment, and
// installs preload mode. Thread-safe: one handler serves every connection.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "backend_service/caller.h"
#include "base/text.h"

struct ServiceSetup {
  bool system = false;                  // the system service, acting for every local user
  std::filesystem::path own_directory;  // where our executable, and so the installer, lies
  std::filesystem::path system_directory;
};

inline constexpr TextView kInvalidCommand = u"invalid command";

class CommandHandler {
 public:
  explicit CommandHandler(ServiceSetup setup) : setup_(std::move(setup)) {}

  // The answer to `message` from `caller`; at most `max_units` UTF-16 units long.
  [[nodiscard]] Text Handle(const Text& message, const Caller& caller, size_t max_units);

 private:
  enum class Installer { kInstall, kRemove };

  [[nodiscard]] Text RunInstaller(Installer what, const Text& directory, const Caller& caller);
  [[nodiscard]] Text Status(const Caller& caller, size_t max_units);
  [[nodiscard]] Text AccelerateSelf(const Caller& caller);
  [[nodiscard]] bool IsOwnInstaller(const Text& directory) const;
  [[nodiscard]] std::shared_ptr<std::mutex> InstallerLock(uid_t uid);
  void RecordFailure(uid_t uid, std::string reason);

  const ServiceSetup setup_;
  std::mutex mutex_;                                         // guards the two maps
  std::map<uid_t, std::shared_ptr<std::mutex>> installing_;  // one installer run per user
  std::map<uid_t, std::string> failures_;  // why the last start of the component failed
};
