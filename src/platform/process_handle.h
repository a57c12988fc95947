// A reference to one process that cannot be mistaken for a later process with the same id: a
// pidfd. It stays valid after the process ends (a signal then fails with ESRCH). Works for any
// process the kernel lets us see; whether it may be signalled depends on the usual permission
// rules. Move-only; one thread uses a handle at a time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>

#include "base/result.h"
#include "base/unique_fd.h"

class ProcessHandle {
 public:
  // ESRCH when no such process runs, EMFILE when no descriptor is left.
  [[nodiscard]] static Result<ProcessHandle> Open(pid_t pid);

  [[nodiscard]] pid_t pid() const { return pid_; }
  [[nodiscard]] int fd() const { return fd_.get(); }

  // Sends `signal` to the process; signal 0 only checks that it could be sent. ESRCH once the
  // process has ended and been reaped, EPERM for a process of another user.
  [[nodiscard]] Result<void> Signal(int signal) const;

  // True once the process has ended (a child that ended counts even before it is reaped).
  [[nodiscard]] bool HasEnded() const;

  // Waits until the process ends (true) or `timeout` passes (false); no time-out waits without
  // limit. Signals that interrupt the wait do not shorten it.
  [[nodiscard]] Result<bool> WaitEnded(std::optional<std::chrono::milliseconds> timeout) const;

 private:
  ProcessHandle(pid_t pid, UniqueFd fd) : pid_(pid), fd_(std::move(fd)) {}

  pid_t pid_;
  UniqueFd fd_;
};
