// The installer of the network-stack component on Linux.
//
//   pellix.exe -i -a -n sorvan_lsp -d32 <dir>/sorvan_lsp.dll    install
//   pellix.exe -r -n sorvan_lsp                                  remove
//
// The library named in the install command is the Linux library beside it: <dir>/sorvan_lsp.so.
// Installing makes the user's later sessions preload it into every program:
//   - a link $XDG_DATA_HOME/morvil/sorvan_lsp.so to the library, so that a program directory
//     whose path LD_PRELOAD cannot carry (a blank or a colon in it) still works;
//   - $XDG_CONFIG_HOME/environment.d/60-sorvan_lsp.conf, which adds that link to LD_PRELOAD
//     (read by the session manager when a session starts);
//   - the record "sorvan_lsp <path given>" in $XDG_STATE_HOME/morvil/lsp-installed.
// Removing deletes all three; removing what is not installed succeeds.
//
// Run as root by the system's backend service, with the calling user in the environment
// (MORVIL_CALLER_UID, MORVIL_CALLER_RUNTIME_DIR, MORVIL_SYSTEM_DIR), installing starts the
// kernel-mode component for that user instead (morvil-kernel beside the installer) and returns
// once it runs; removing stops it and removes its rules, routes and cgroups.
// Exit status: 0 done, 1 the library is missing, a file cannot be written or the component
// cannot run, 2 other arguments.
//
// Environment for tests:
//   MORVIL_STANDIN_PELLIX_EXIT=N  exit with N at once, doing nothing
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "pellix/install_files.h"
#include "pellix/kernel_component.h"

namespace {

// The user the system's backend service runs the installer for, when it does.
std::optional<CallerOf> KernelModeCaller() {
  const char* uid = std::getenv("MORVIL_CALLER_UID");
  if (::geteuid() != 0 || uid == nullptr || *uid == '\0') return std::nullopt;
  char* end = nullptr;
  unsigned long value = std::strtoul(uid, &end, 10);
  if (*end != '\0' || value >= 0xffffffffUL) return std::nullopt;
  CallerOf caller;
  caller.uid = static_cast<uid_t>(value);
  const char* runtime = std::getenv("MORVIL_CALLER_RUNTIME_DIR");
  caller.runtime_dir = runtime && runtime[0] == '/' ? runtime : "/run/user/" + std::string(uid);
  const char* system = std::getenv("MORVIL_SYSTEM_DIR");
  caller.system_dir = system && system[0] == '/' ? system : "/run/morvil";
  return caller;
}

std::filesystem::path ComponentProgram() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "morvil-kernel";
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* code = std::getenv("MORVIL_STANDIN_PELLIX_EXIT")) return std::atoi(code);
  std::vector<std::string> args(argv + 1, argv + argc);
  const std::vector<std::string> install = {"-i", "-a", "-n", "sorvan_lsp", "-d32"};
  const std::vector<std::string> remove = {"-r", "-n", "sorvan_lsp"};
  std::optional<CallerOf> caller = KernelModeCaller();
  if (args == remove) {
    if (caller) return StopKernelComponent(ComponentProgram(), *caller) ? 0 : 1;
    return RemoveComponent("sorvan_lsp") ? 0 : 1;
  }
  if (args.size() != install.size() + 1 ||
      !std::equal(install.begin(), install.end(), args.begin()))
    return 2;
  const std::string& named = args.back();
  if (named.empty() || named[0] != '/' || !named.ends_with("/sorvan_lsp.dll")) return 2;
  if (caller) return StartKernelComponent(ComponentProgram(), *caller) ? 0 : 1;
  return InstallComponent("sorvan_lsp", named) ? 0 : 1;
}
