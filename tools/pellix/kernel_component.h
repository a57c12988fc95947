// Starting and stopping the kernel-mode component (morvil-kernel, beside the installer) for
// the user the backend service acts for. Used when the installer runs as root with
// MORVIL_CALLER_UID set.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

struct CallerOf {
  uid_t uid = 0;
  std::string runtime_dir;
  std::filesystem::path system_dir;
};

// Starts the component for the caller unless one runs for them already, and returns once it
// runs (true) or has failed (false, the reason on standard error).
[[nodiscard]] bool StartKernelComponent(const std::filesystem::path& program,
                                        const CallerOf& caller);
// Stops the caller's component and makes sure nothing of it is left; true when done.
[[nodiscard]] bool StopKernelComponent(const std::filesystem::path& program,
                                       const CallerOf& caller);
