#include "pellix/kernel_component.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "base/unique_fd.h"

namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kStopTimeoutMs = 10000;

std::filesystem::path StatusFile(const CallerOf& caller) {
  return caller.system_dir / "users" / std::to_string(caller.uid) / "status";
}

// The component named in the caller's status file, when that process is a running component.
std::optional<pid_t> RunningComponent(const std::filesystem::path& program,
                                      const CallerOf& caller) {
  std::ifstream in(StatusFile(caller));
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("component ")) continue;
    long pid = std::strtol(line.c_str() + 10, nullptr, 10);
    if (pid <= 1) return std::nullopt;
    std::error_code ec;
    std::filesystem::path exe =
        std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    if (ec || exe != program) return std::nullopt;
    return static_cast<pid_t>(pid);
  }
  return std::nullopt;
}

UniqueFd PidFd(pid_t pid) {
  return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

// Sends `signal` to the process of `pidfd` (never to a later process with the same id) and waits
// up to `limit_ms` for it to end; true once it ended.
bool SignalAndWait(const UniqueFd& pidfd, int signal, int limit_ms) {
  if (::syscall(SYS_pidfd_send_signal, pidfd.get(), signal, nullptr, 0) != 0 && errno != ESRCH)
    return false;
  pollfd wait{pidfd.get(), POLLIN, 0};
  return ::poll(&wait, 1, limit_ms) == 1;
}

// Runs the component's clean-up for the caller.
bool CleanUp(const std::filesystem::path& program, const CallerOf& caller) {
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    std::string uid = std::to_string(caller.uid);
    ::execl(program.c_str(), program.c_str(), "--uid", uid.c_str(), "--system-dir",
            caller.system_dir.c_str(), "--clean-up", nullptr);
    ::_exit(127);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool StartKernelComponent(const std::filesystem::path& program, const CallerOf& caller) {
  if (RunningComponent(program, caller)) return true;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  UniqueFd report(ends[0]), report_writer(ends[1]);
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    // Its own session, no terminal, and standard error to the installer until it runs (it
    // then lets go of it, which the installer reads as the end of the report).
    ::setsid();
    int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 ||
        ::dup2(report_writer.get(), 2) < 0)
      ::_exit(127);
    std::string uid = std::to_string(caller.uid);
    ::execl(program.c_str(), program.c_str(), "--uid", uid.c_str(), "--runtime-dir",
            caller.runtime_dir.c_str(), "--system-dir", caller.system_dir.c_str(), nullptr);
    ::_exit(127);
  }
  report_writer.reset();
  std::string reason;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  for (;;) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    pollfd wait{report.get(), POLLIN, 0};
    if (left <= 0 || ::poll(&wait, 1, left) <= 0) break;
    char buffer[512];
    ssize_t n = ::read(report.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    if (reason.size() < 4096) reason.append(buffer, static_cast<size_t>(n));
  }
  report.reset();
  // The component's parent is this installer until it ends; reap it if it ended already.
  int status = 0;
  bool ended = ::waitpid(child, &status, WNOHANG) == child;
  if (!ended && RunningComponent(program, caller) == child) return true;
  if (!ended) {
    ::kill(child, SIGTERM);
    ::waitpid(child, &status, 0);
  }
  std::fprintf(stderr, "%s",
               reason.empty() ? "pellix: the component did not start\n" : reason.c_str());
  return false;
}

bool StopKernelComponent(const std::filesystem::path& program, const CallerOf& caller) {
  if (std::optional<pid_t> pid = RunningComponent(program, caller)) {
    UniqueFd pidfd = PidFd(*pid);
    // The process may have ended (and its id been reused) since the status named it.
    if (pidfd && RunningComponent(program, caller) == pid &&
        !SignalAndWait(pidfd, SIGTERM, kStopTimeoutMs) &&
        !SignalAndWait(pidfd, SIGKILL, kStopTimeoutMs)) {
      std::fprintf(stderr, "pellix: the component %d does not end\n", static_cast<int>(*pid));
      return false;
    }
  }
  // Whatever a component that did not end cleanly left behind goes too: only once it is gone,
  // as it would otherwise go on using what the clean-up removes.
  return CleanUp(program, caller);
}
