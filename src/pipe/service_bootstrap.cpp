#include "pipe/service_bootstrap.h"

#include "base/diagnostic.h"
#include "pipe/client_pipe.h"
#include "services/shell_execute.h"
#include "services/special_folders.h"

namespace {

constexpr int32_t kHidden = 0;
constexpr int32_t kStarterTimeoutMs = 4000;

}  // namespace

Text InstallCommand(const Text& program_directory) {
  return u"open," + program_directory + u"/pellix.exe, -i -a -n \"sorvan_lsp\" -d32 \"" +
         program_directory + u"/sorvan_lsp.dll\"";
}

bool InitService() {
  return InitServiceFrom(GetAppCurrentPath());
}

bool InitServiceFrom(const Text& program_directory) {
  const Text pipe(BackendServicePipeName);
  if (!ClientPipeOpen(pipe)) {
    Text starter = program_directory + u"/Caddow.exe";
    if (ShellExecuteAndWait(u"open", starter, u"-i", kHidden, kStarterTimeoutMs) != 0) return false;
    if (!ClientPipeOpen(pipe)) return false;
  }

  Text command = InstallCommand(program_directory);
  PrintDiagnostic(command + u"\n");
  // A command that never reached the service installed nothing: that is a failure, and the
  // broken connection is closed.
  if (!ClientPipeWrite(pipe, command)) {
    (void)ClientPipeClose(pipe);
    return false;
  }

  Text answer;
  (void)ClientPipeRead(pipe, answer);  // a failed read leaves the answer empty
  PrintDiagnostic(u"remote run return value - > " + answer);
  if (answer != u"0") return false;  // the pipe stays open and listed
  (void)ClientPipeClose(pipe);
  return true;
}
