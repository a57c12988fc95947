// Stand-in for the product's backend service: serves "\\.\pipe\ZrNetworkGameBackendService",
// one client at a time. Each message is a command; a command of the install command's form
// ("open,<dir>/pellix.exe, -i -a -n "sorvan_lsp" -d32 "<dir>/sorvan_lsp.dll"") runs that
// installer with its parameters and answers "0" when it exits with 0, otherwise its result as
// text (the exit code, or -1 when it could not start). Any other command answers "invalid
// command". Only one service runs per user: a second one exits 0 at once.
//
// Once its pipe listens it writes its process id to backend-service.pid in the user's runtime
// directory. Runs until killed.
//
// Environment for tests:
//   MORVIL_STANDIN_SERVICE_ANSWER=TEXT   answer TEXT instead of running the installer
//   MORVIL_STANDIN_SERVICE_HANGUP=1      close the connection without answering
//   MORVIL_STANDIN_SERVICE_LIFETIME_S=N  end after N seconds whatever happens
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "backend-service/service_files.h"
#include "pipe/server_pipe.h"
#include "pipe/service_bootstrap.h"
#include "platform/instance_lock.h"
#include "platform/runtime_dir.h"
#include "services/shell_execute.h"

namespace {

constexpr int32_t kInstallerTimeoutMs = 30000;

const char* Setting(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

// Runs the installer a well-formed install command names; the answer to send back.
Text Execute(const Text& command) {
  if (const char* answer = Setting("MORVIL_STANDIN_SERVICE_ANSWER")) return FromUtf8(answer);
  constexpr TextView kInstaller = u"/pellix.exe";
  size_t first = command.find(u',');
  size_t second = first == Text::npos ? Text::npos : command.find(u',', first + 1);
  if (second == Text::npos) return u"invalid command";
  Text installer = command.substr(first + 1, second - first - 1);
  if (!installer.ends_with(kInstaller)) return u"invalid command";
  Text directory = installer.substr(0, installer.size() - kInstaller.size());
  if (command != InstallCommand(directory)) return u"invalid command";
  int32_t result = ShellExecuteAndWait(command.substr(0, first), installer,
                                       command.substr(second + 1), 0, kInstallerTimeoutMs);
  return ToText(result);
}

bool WritePidFile() {
  auto dir = RuntimeDirectory();
  if (!dir) return false;
  std::filesystem::path file = dir.value() / kServicePidFile;
  std::filesystem::path temporary = file;
  temporary += ".tmp";
  std::ofstream(temporary) << ::getpid() << '\n';
  std::error_code ec;
  std::filesystem::rename(temporary, file, ec);  // readers see the whole id or nothing
  return !ec;
}

void Serve(const Text& pipe) {
  for (;;) {
    if (!ServerPipeConnect(pipe)) {
      ::sleep(1);
      continue;
    }
    Text command;
    while (ServerPipeRead(pipe, command)) {
      if (Setting("MORVIL_STANDIN_SERVICE_HANGUP")) break;
      if (!ServerPipeWrite(pipe, Execute(command))) break;
    }
    (void)ServerPipeDisconnect(pipe);
  }
}

}  // namespace

int main() {
  if (const char* lifetime = Setting("MORVIL_STANDIN_SERVICE_LIFETIME_S"))
    ::alarm(static_cast<unsigned>(std::atoi(lifetime)));
  InstanceLock lock = InstanceLock::Acquire(kServiceLockName);
  if (lock.state() == InstanceLock::State::kHeldElsewhere) return 0;
  if (lock.state() != InstanceLock::State::kAcquired) return 1;
  const Text pipe(BackendServicePipeName);
  if (!ServerPipeCreate(pipe) || !WritePidFile()) return 1;
  Serve(pipe);
}
