#include "platform/child_reaper.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace {

class ChildReaper {
 public:
  ChildReaper() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    std::thread([this] { Run(); }).detach();
  }

  void Add(ProcessHandle child) {
    {
      std::lock_guard lock(mutex_);
      children_.push_back(std::move(child));
    }
    uint64_t one = 1;
    (void)!::write(wake_.get(), &one, sizeof one);
  }

 private:
  void Run() {
    for (;;) {
      std::vector<pollfd> watched{{wake_.get(), POLLIN, 0}};
      {
        std::lock_guard lock(mutex_);
        for (const ProcessHandle& child : children_) watched.push_back({child.fd(), POLLIN, 0});
      }
      if (::poll(watched.data(), watched.size(), -1) < 0) continue;  // EINTR
      uint64_t count;
      (void)!::read(wake_.get(), &count, sizeof count);
      std::lock_guard lock(mutex_);
      std::erase_if(children_, [](const ProcessHandle& child) {
        if (!child.HasEnded()) return false;
        siginfo_t info{};
        ::waitid(P_PIDFD, static_cast<id_t>(child.fd()), &info, WEXITED | WNOHANG);
        return true;
      });
    }
  }

  UniqueFd wake_;
  std::mutex mutex_;
  std::vector<ProcessHandle> children_;
};

}  // namespace

void ReapWhenEnded(ProcessHandle child) {
  // Never destroyed: its thread runs until the process ends.
  static ChildReaper* reaper = new ChildReaper;
  reaper->Add(std::move(child));
}
