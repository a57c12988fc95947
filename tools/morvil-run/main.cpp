// Starts a program with the network-stack library preloaded, so that morvil can accelerate it
// without the library being installed for the whole session.
//
//   morvil-run PROGRAM [ARGUMENT...]
//
// Puts sorvan_lsp.so from morvil-run's own directory ahead of LD_PRELOAD and executes PROGRAM
// (searched in PATH) in place. Whether the program is then accelerated is morvil's answer.
// Exit status: the program's, or 127 when it cannot be started, 2 on bad usage.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: morvil-run PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    std::fprintf(stderr, "morvil-run: cannot find its own directory\n");
    return 127;
  }
  std::string library = (self.parent_path() / "sorvan_lsp.so").string();
  if (library.find_first_of(" :") != std::string::npos) {
    std::fprintf(stderr, "morvil-run: %s cannot be preloaded from a path with ' ' or ':'\n",
                 library.c_str());
    return 127;
  }
  const char* previous = std::getenv("LD_PRELOAD");
  std::string preload = library;
  if (previous && *previous) preload += std::string(":") + previous;
  ::setenv("LD_PRELOAD", preload.c_str(), 1);
  ::execvp(argv[1], argv + 1);
  std::fprintf(stderr, "morvil-run: %s: %s\n", argv[1], std::strerror(errno));
  return 127;
}
