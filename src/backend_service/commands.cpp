#include "backend_service/commands.h"

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <thread>
#include <vector>

#include "backend_service/component_status.h"
#include "pipe/service_bootstrap.h"
#include "platform/process_handle.h"
#include "platform/process_spawn.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kInstallerLimit{30000};
constexpr milliseconds kComponentStartLimit{3000};
constexpr milliseconds kPollInterval{50};
constexpr int kNotStarted = -1;
constexpr int kTimedOut = 999;
constexpr TextView kInstallerName = u"/pellix.exe";

Text RemovalCommand(const Text& directory) {
  return u"open," + directory + u"/pellix.exe, -r -n \"sorvan_lsp\"";
}

// The directory of the installer a command of the installer's form names.
std::optional<Text> InstallerDirectory(const Text& command) {
  constexpr TextView kVerb = u"open,";
  if (!command.starts_with(kVerb)) return std::nullopt;
  size_t end = command.find(u',', kVerb.size());
  if (end == Text::npos) return std::nullopt;
  TextView installer = TextView(command).substr(kVerb.size(), end - kVerb.size());
  if (!installer.ends_with(kInstallerName)) return std::nullopt;
  return Text(installer.substr(0, installer.size() - kInstallerName.size()));
}

// Only a program nobody but root can change may run as root: the file and its directory are
// root's and not writable by group or others.
bool OnlyRootCanChange(const std::filesystem::path& program) {
  for (const std::filesystem::path& path : {program, program.parent_path()}) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)))
      return false;
  }
  return true;
}

// Runs `program` with `arguments`, for at most kInstallerLimit: its exit code, kNotStarted or
// kTimedOut (it is then killed).
int RunAndWait(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               std::optional<std::vector<std::string>> environment) {
  SpawnRequest request;
  request.program = program.string();
  request.arguments = {request.program};
  request.arguments.insert(request.arguments.end(), arguments.begin(), arguments.end());
  request.environment = std::move(environment);
  if (request.environment) request.working_directory = "/";
  Result<ProcessHandle> child = SpawnProcess(request);
  if (!child) return kNotStarted;
  Result<bool> ended = child->WaitEnded(kInstallerLimit);
  if (!ended || !*ended) {
    (void)child->Signal(SIGKILL);
    (void)ReapChild(*child);
    return kTimedOut;
  }
  Result<int> code = ReapChild(*child);
  return code ? *code : kNotStarted;
}

}  // namespace

Text CommandHandler::Handle(const Text& message, const Caller& caller, size_t max_units) {
  if (message == u"status") return Status(caller, max_units);
  if (message == u"accelerate-self") return AccelerateSelf(caller);
  std::optional<Text> directory = InstallerDirectory(message);
  if (!directory || !IsOwnInstaller(*directory)) return Text(kInvalidCommand);
  if (message == InstallCommand(*directory))
    return RunInstaller(Installer::kInstall, *directory, caller);
  if (message == RemovalCommand(*directory))
    return RunInstaller(Installer::kRemove, *directory, caller);
  return Text(kInvalidCommand);
}

bool CommandHandler::IsOwnInstaller(const Text& directory) const {
  const std::string own = setup_.own_directory.string();
  // The system service takes no path a user chose: only its own directory, as written.
  if (setup_.system) return ToUtf8(directory) == own;
  // A user's service runs as that user, who may reach its directory by another path (a link).
  struct stat named {
  }, ours{};
  const std::string installer = ToUtf8(directory) + ToUtf8(kInstallerName);
  return ::stat(installer.c_str(), &named) == 0 &&
         ::stat((own + ToUtf8(kInstallerName)).c_str(), &ours) == 0 &&
         named.st_dev == ours.st_dev && named.st_ino == ours.st_ino;
}

std::shared_ptr<std::mutex> CommandHandler::InstallerLock(uid_t uid) {
  std::lock_guard lock(mutex_);
  std::shared_ptr<std::mutex>& entry = installing_[uid];
  if (!entry) entry = std::make_shared<std::mutex>();
  return entry;
}

void CommandHandler::RecordFailure(uid_t uid, std::string reason) {
  std::lock_guard lock(mutex_);
  if (reason.empty()) {
    failures_.erase(uid);
  } else {
    failures_[uid] = std::move(reason);
  }
}

Text CommandHandler::RunInstaller(Installer what, const Text& directory, const Caller& caller) {
  std::vector<std::string> arguments = {"-r", "-n", "sorvan_lsp"};
  if (what == Installer::kInstall)
    arguments = {"-i", "-a", "-n", "sorvan_lsp", "-d32", ToUtf8(directory) + "/sorvan_lsp.dll"};
  const std::filesystem::path installer = setup_.own_directory / "pellix.exe";

  std::optional<std::vector<std::string>> environment;
  if (setup_.system) {
    if (!OnlyRootCanChange(installer)) return u"the installer may be changed by others than root";
    environment = std::vector<std::string>{
        "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "MORVIL_CALLER_UID=" + std::to_string(caller.uid),
        "MORVIL_CALLER_GID=" + std::to_string(PrimaryGroup(caller)),
        "MORVIL_CALLER_RUNTIME_DIR=" + CallerRuntimeDirectory(caller).string(),
        "MORVIL_SYSTEM_DIR=" + setup_.system_directory.string()};
  }

  std::shared_ptr<std::mutex> running = InstallerLock(caller.uid);
  std::lock_guard lock(*running);
  const int code = RunAndWait(installer, arguments, std::move(environment));
  if (!setup_.system || what == Installer::kRemove) return ToText(code);
  if (code != 0) {
    RecordFailure(caller.uid, code == kTimedOut
                                  ? "the installer did not finish in time"
                                  : "the installer failed with exit code " + std::to_string(code));
    return ToText(code);
  }
  // The installer says the component runs; the answer waits until its status shows it.
  const auto deadline = steady_clock::now() + kComponentStartLimit;
  while (!ReadComponentStatus(setup_.system_directory, caller.uid)) {
    if (steady_clock::now() >= deadline) {
      RecordFailure(caller.uid, "the network-stack component did not come up");
      return u"the network-stack component did not come up";
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  RecordFailure(caller.uid, "");
  return u"0";
}

Text CommandHandler::Status(const Caller& caller, size_t max_units) {
  std::string reason;
  if (!setup_.system) {
    reason = "the backend service is not installed as a system service on this machine";
  } else if (std::optional<ComponentStatus> status =
                 ReadComponentStatus(setup_.system_directory, caller.uid)) {
    return FromUtf8(FitStatus(status->text, max_units));
  } else {
    std::lock_guard lock(mutex_);
    auto failure = failures_.find(caller.uid);
    reason = failure != failures_.end() ? failure->second
                                        : "the network-stack component is not running for you";
  }
  return FromUtf8("mode preload\nreason " + reason + "\n");
}

Text CommandHandler::AccelerateSelf(const Caller& caller) {
  if (!setup_.system) return u"kernel mode is not on: no system service";
  std::optional<ComponentStatus> status = ReadComponentStatus(setup_.system_directory, caller.uid);
  if (!status || status->cgroup.empty()) return u"kernel mode is not on for you";
  // A process id names the caller only while the caller has not ended: the handle tells.
  Result<ProcessHandle> process = ProcessHandle::Open(caller.pid);
  if (!process || process->HasEnded()) return u"the calling process has ended";
  if (!ProcessBelongsTo(caller.pid, caller.uid)) return u"the calling process is not yours";
  std::optional<std::string> before = CgroupDirectoryOf(caller.pid);
  Result<void> moved = MoveIntoCgroup(caller.pid, status->cgroup);
  if (!moved) return FromUtf8("cannot move the process: " + moved.error().context);
  if (process->HasEnded()) {
    // The caller ended around the move, so the id may name another process by now: whatever
    // was moved goes back out of the user's accelerated group.
    if (before) (void)MoveIntoCgroup(caller.pid, *before);
    return u"the calling process has ended";
  }
  return u"0";
}
