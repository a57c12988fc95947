// Stand-in for the installer of the network-stack component. Accepts exactly
//   pellix.exe -i -a -n sorvan_lsp -d32 <absolute path of sorvan_lsp.dll>
// and records the installation as the line "sorvan_lsp <path>" in
// $XDG_STATE_HOME/morvil/lsp-installed (~/.local/state where XDG_STATE_HOME is unset).
// Exit status: 0 installed, 1 the record cannot be written, 2 other arguments.
//
// Environment for tests:
//   MORVIL_STANDIN_PELLIX_EXIT=N  exit with N at once, recording nothing
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::filesystem::path StateDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return state;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : "/") / ".local/state";
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* code = std::getenv("MORVIL_STANDIN_PELLIX_EXIT")) return std::atoi(code);
  std::vector<std::string> args(argv + 1, argv + argc);
  const std::vector<std::string> expected = {"-i", "-a", "-n", "sorvan_lsp", "-d32"};
  if (args.size() != expected.size() + 1 ||
      !std::equal(expected.begin(), expected.end(), args.begin()))
    return 2;
  const std::string& library = args.back();
  if (library.empty() || library[0] != '/' || !library.ends_with("/sorvan_lsp.dll")) return 2;

  std::filesystem::path dir = StateDirectory() / "morvil";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::ofstream record(dir / "lsp-installed", std::ios::trunc);
  record << "sorvan_lsp " << library << '\n';
  record.close();
  return record ? 0 : 1;
}
