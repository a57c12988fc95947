#include "platform/process_handle.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>

Result<ProcessHandle> ProcessHandle::Open(pid_t pid) {
  // The descriptor comes with close-on-exec set, so started programs never inherit it.
  int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return Error::FromErrno("pidfd_open");
  return ProcessHandle(pid, UniqueFd(fd));
}

Result<void> ProcessHandle::Signal(int signal) const {
  if (::syscall(SYS_pidfd_send_signal, fd_.get(), signal, nullptr, 0) != 0)
    return Error::FromErrno("pidfd_send_signal");
  return {};
}

bool ProcessHandle::HasEnded() const {
  Result<bool> ended = WaitEnded(std::chrono::milliseconds(0));
  return ended && *ended;
}

Result<bool> ProcessHandle::WaitEnded(std::optional<std::chrono::milliseconds> timeout) const {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
  for (;;) {
    int wait_ms = -1;
    if (timeout) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait_ms = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }
    pollfd entry{fd_.get(), POLLIN, 0};
    int ready = ::poll(&entry, 1, wait_ms);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return Error::FromErrno("poll pidfd");
    if (ready == 0 && timeout && Clock::now() >= deadline) return false;
  }
}
