// A lock named by a text, held for the life of the process: the stand-in for a named mutex that
// tells whether another instance runs in the user's session. A lock file in the user's runtime
// directory, locked with flock; the kernel releases it when the process ends, however it ends.
#pragma once

#include "base/result.h"
#include "base/text.h"
#include "base/unique_fd.h"

class InstanceLock {
 public:
  enum class State { kAcquired, kHeldElsewhere, kFailed };

  // Never blocks. kHeldElsewhere: another process holds the lock; kFailed: no lock file could
  // be made (callers treat it like kHeldElsewhere).
  [[nodiscard]] static InstanceLock Acquire(TextView name);

  [[nodiscard]] State state() const { return state_; }

 private:
  InstanceLock(State state, UniqueFd fd) : state_(state), fd_(std::move(fd)) {}
  State state_;
  UniqueFd fd_;
};
