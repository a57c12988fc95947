// The kernel's process events (netlink connector, CN_IDX_PROC): which processes executed a
// program, renamed themselves, changed user id or ended. Not thread-safe.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"

struct ProcEvent {
  enum class Kind { kExec, kComm, kUid, kExit } kind = Kind::kExec;
  pid_t pid = 0;  // the process (thread group)
};

// The events in one datagram read from the connector socket. Anything malformed, truncated or
// not a process event is skipped; an exit counts only when the whole process ended.
[[nodiscard]] std::vector<ProcEvent> ParseProcEvents(std::span<const uint8_t> datagram);

class ProcEvents {
 public:
  // Subscribes to the events. The kernel sends them only into the machine's first network
  // namespace; a component started inside another one (tests run in a private one) opens its
  // socket in the namespace of the nearest ancestor process that lives in a different one.
  [[nodiscard]] static Result<ProcEvents> Open();

  [[nodiscard]] int fd() const { return fd_.get(); }
  // Reads what is waiting without blocking. Sets `lost` when the kernel dropped events because
  // the socket's buffer was full (the caller then looks at /proc itself).
  [[nodiscard]] std::vector<ProcEvent> Read(bool& lost);

 private:
  explicit ProcEvents(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};
