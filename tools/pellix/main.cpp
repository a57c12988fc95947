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
// Exit status: 0 done, 1 the library is missing or a file cannot be written, 2 other arguments.
//
// Environment for tests:
//   MORVIL_STANDIN_PELLIX_EXIT=N  exit with N at once, doing nothing
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "pellix/install_files.h"

int main(int argc, char** argv) {
  if (const char* code = std::getenv("MORVIL_STANDIN_PELLIX_EXIT")) return std::atoi(code);
  std::vector<std::string> args(argv + 1, argv + argc);
  const std::vector<std::string> install = {"-i", "-a", "-n", "sorvan_lsp", "-d32"};
  const std::vector<std::string> remove = {"-r", "-n", "sorvan_lsp"};
  if (args == remove) return RemoveComponent("sorvan_lsp") ? 0 : 1;
  if (args.size() != install.size() + 1 ||
      !std::equal(install.begin(), install.end(), args.begin()))
    return 2;
  const std::string& named = args.back();
  if (named.empty() || named[0] != '/' || !named.ends_with("/sorvan_lsp.dll")) return 2;
  return InstallComponent("sorvan_lsp", named) ? 0 : 1;
}
