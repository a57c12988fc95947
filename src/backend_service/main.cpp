// The backend service, morvil-backend-service: serves "\\.\pipe\ZrNetworkGameBackendService" and
// runs the installer of the network-stack component for its clients (commands.h).
//
//   morvil-backend-service            the service of the calling user: serves the pipe in the
//                                     user's runtime directory, one service per user (a second
//                                     one exits 0 at once), installs preload mode
//   morvil-backend-service --system   the system service (root only): serves the pipe in the
//                                     system directory, open to every local user, and acts for
//                                     each caller; one per system directory
//
// Started by systemd with a listening socket (socket activation), it is the system service and
// serves that socket. Once the pipe listens, the user's service writes its process id to
// backend-service.pid in the user's runtime directory. Runs until killed; a user's service also
// gives way once a system service answers (installed after it started): its pipe's name and
// process id file go, so that clients find the system's pipe, and it ends with its last client.
//
// Exit status: 0 another service already serves, 1 the pipe cannot be served, 2 bad arguments.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "backend_service/commands.h"
#include "backend_service/listener.h"
#include "backend_service/service_files.h"
#include "backend_service/sessions.h"
#include "pipe/service_bootstrap.h"
#include "pipe/system_service.h"
#include "platform/instance_lock.h"
#include "platform/pipe_name.h"

namespace {

int Fail(const std::string& what) {
  std::cerr << "morvil-backend-service: " << what << '\n';
  return 1;
}

constexpr std::chrono::seconds kSystemServiceCheck{1};
constexpr std::chrono::milliseconds kSystemServiceAnswer{1000};
constexpr std::chrono::milliseconds kLastClientCheck{100};

bool WritePidFile() {
  std::optional<std::filesystem::path> pid_file = ServicePidFile();
  if (!pid_file) return false;
  const std::filesystem::path& file = *pid_file;
  std::filesystem::path temporary = file;
  temporary += ".tmp";
  std::ofstream out(temporary, std::ios::trunc);
  out << ::getpid() << '\n';
  out.close();
  std::error_code ec;
  if (!out) {
    std::filesystem::remove(temporary, ec);
    return false;
  }
  std::filesystem::rename(temporary, file, ec);  // readers see the whole id or nothing
  return !ec;
}

// The user's service, from the moment a system service answers: takes its pipe's name away
// (only the socket it bound) and its process id file, then ends once no client is served and
// none waits. Runs on a thread of its own beside the serving one.
[[noreturn]] void GiveWayToTheSystemService(const std::filesystem::path& pipe, int listener) {
  struct stat bound {};
  const bool have_bound = ::lstat(pipe.c_str(), &bound) == 0;
  while (!SystemServiceAnswers(kSystemServiceAnswer))
    std::this_thread::sleep_for(kSystemServiceCheck);
  struct stat now {};
  if (have_bound && ::lstat(pipe.c_str(), &now) == 0 && now.st_dev == bound.st_dev &&
      now.st_ino == bound.st_ino)
    ::unlink(pipe.c_str());
  if (ServicePidFileNames(::getpid())) ::unlink(ServicePidFile()->c_str());
  for (;;) {
    pollfd waiting{listener, POLLIN, 0};
    if (ActiveClients() == 0 && ::poll(&waiting, 1, 0) == 0) std::_Exit(0);
    std::this_thread::sleep_for(kLastClientCheck);
  }
}

// The system service bound by us: the system directory's pipe, held by one service at a time.
Result<UniqueFd> ListenAsSystemService(const std::filesystem::path& system_dir, UniqueFd& lock) {
  if (Result<void> r = MakeSystemDirectory(system_dir); !r) return r.error();
  if (Result<void> r = MakeSystemDirectory(system_dir / "pipe"); !r) return r.error();
  const std::filesystem::path lock_file = system_dir / "backend-service.lock";
  lock = UniqueFd(::open(lock_file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!lock) return Error::FromErrno("open " + lock_file.string());
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
    return Error{EEXIST, "another service serves " + system_dir.string()};
  Result<std::filesystem::path> path = SystemPipeSocketPath(BackendServicePipeName);
  if (!path) return path.error();
  return BindPipeSocket(*path, 0666);
}

}  // namespace

int main(int argc, char** argv) {
  const bool system_asked = argc == 2 && std::strcmp(argv[1], "--system") == 0;
  if (argc > 1 && !system_asked) return 2;

  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return Fail("cannot find our own program");
  ServiceSetup setup;
  setup.own_directory = self.parent_path();
  setup.system_directory = SystemDirectory();

  Result<std::optional<UniqueFd>> activated = TakeActivatedSocket();
  if (!activated) return Fail(activated.error().context);
  UniqueFd listener;
  UniqueFd system_lock;
  if (*activated) {
    setup.system = true;
    listener = std::move(**activated);
  } else if (system_asked) {
    if (::geteuid() != 0) return Fail("--system needs root");
    setup.system = true;
    Result<UniqueFd> bound = ListenAsSystemService(setup.system_directory, system_lock);
    if (!bound) return bound.error().code == EEXIST ? 0 : Fail(bound.error().context);
    listener = std::move(*bound);
  }
  if (setup.system && ::geteuid() != 0) return Fail("the system service needs root");

  // The user's service: one per user, at the user's pipe.
  std::optional<InstanceLock> lock;
  if (!setup.system) {
    lock.emplace(InstanceLock::Acquire(kServiceLockName));
    if (lock->state() == InstanceLock::State::kHeldElsewhere) return 0;
    if (lock->state() != InstanceLock::State::kAcquired) return Fail("no instance lock");
    Result<std::filesystem::path> path = PipeSocketPath(BackendServicePipeName);
    if (!path) return Fail(path.error().context);
    Result<UniqueFd> bound = BindPipeSocket(*path, 0600);
    if (!bound) return Fail(bound.error().context);
    listener = std::move(*bound);
    if (!WritePidFile()) return Fail("cannot write the process id file");
    std::thread(GiveWayToTheSystemService, *path, listener.get()).detach();
  }

  CommandHandler handler(setup);
  ServeClients(listener.get(), setup.system ? -1 : static_cast<long long>(::geteuid()), handler);
}
