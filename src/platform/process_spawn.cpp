#include "platform/process_spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

extern char** environ;

namespace {

// posix_spawn_file_actions_t and posix_spawnattr_t with their destroy calls.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

}  // namespace

Result<ProcessHandle> SpawnProcess(const SpawnRequest& request) {
  if (request.program.empty() || request.arguments.empty()) return Error{ENOENT, "posix_spawn"};
  std::error_code ec;
  // Resolved before the child changes directory, so a relative path keeps its meaning.
  std::string program = std::filesystem::absolute(request.program, ec).string();
  if (ec) return Error{ec.value(), "absolute"};

  SpawnSetup setup;
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  // The child starts with no signal blocked and every handler at its default, whatever the
  // calling thread had.
  posix_spawnattr_setsigmask(&setup.attributes_, &none);
  posix_spawnattr_setsigdefault(&setup.attributes_, &all);
  if (request.detached) {
    flags |= POSIX_SPAWN_SETSID;
    for (int fd : {0, 1, 2})
      posix_spawn_file_actions_addopen(&setup.actions_, fd, "/dev/null",
                                       fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawnattr_setflags(&setup.attributes_, flags);
  if (!request.working_directory.empty())
    posix_spawn_file_actions_addchdir_np(&setup.actions_, request.working_directory.c_str());

  std::vector<char*> argv;
  for (const std::string& argument : request.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  if (request.environment) {
    for (const std::string& entry : *request.environment)
      envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
  }

  pid_t pid = 0;
  int error = ::posix_spawn(&pid, program.c_str(), &setup.actions_, &setup.attributes_, argv.data(),
                            request.environment ? envp.data() : environ);
  if (error != 0) return Error{error, "posix_spawn " + program};

  Result<ProcessHandle> handle = ProcessHandle::Open(pid);
  if (!handle) {
    // Without a handle nobody could wait for the child: end it rather than leave it unwatched.
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  return handle;
}

Result<int> ReapChild(const ProcessHandle& child) {
  siginfo_t info{};
  while (::waitid(P_PIDFD, static_cast<id_t>(child.fd()), &info, WEXITED) != 0)
    if (errno != EINTR) return Error::FromErrno("waitid");
  if (info.si_code == CLD_EXITED) return info.si_status;
  return 128 + info.si_status;  // CLD_KILLED or CLD_DUMPED: si_status is the signal
}
