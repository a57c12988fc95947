// Starts a program so that morvil can accelerate it, also as a Steam launch option
// (`morvil-run %command%`).
//
//   morvil-run PROGRAM [ARGUMENT...]
//
// Where the backend service runs as a system service and its kernel-mode component runs for
// the user, morvil-run asks the service to move morvil-run itself into the user's accelerated
// cgroup ("accelerate-self") and then executes PROGRAM (searched in PATH) in place, so that the
// whole launch tree is caught from its first process, whatever it is built with. Otherwise it
// puts sorvan_lsp.so from its own directory ahead of LD_PRELOAD and executes PROGRAM; whether
// the program is then accelerated is morvil's answer.
// Exit status: the program's, or 127 when it cannot be started, 2 on bad usage.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/text.h"
#include "pipe/pipe_message.h"
#include "platform/pipe_client.h"

namespace {

constexpr TextView kServicePipe = u"\\\\.\\pipe\\ZrNetworkGameBackendService";
// Moving a process takes the service a moment; a service that does not answer within this is
// not waited for: the program is started with the library instead.
constexpr std::chrono::milliseconds kAnswerWait{3000};

// Whether the service moved this process into the user's accelerated cgroup.
bool AccelerateSelf() {
  Result<std::unique_ptr<PipeConnection>> pipe = OpenPipe(kServicePipe);
  if (!pipe || !(*pipe)->write(EncodePipeMessage(u"accelerate-self"))) return false;
  Result<bool> ready = (*pipe)->wait_readable(kAnswerWait);
  if (!ready || !*ready) return false;
  std::byte answer[64];
  Result<PipeConnection::ReadResult> read = (*pipe)->read(answer);
  // The answer "0" (UTF-16LE) means done; anything else says why not.
  return read && read->complete && read->size == 2 && answer[0] == std::byte{'0'} &&
         answer[1] == std::byte{0};
}

// Puts the preloaded library ahead of LD_PRELOAD; false when it cannot be.
bool Preload() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    std::fprintf(stderr, "morvil-run: cannot find its own directory\n");
    return false;
  }
  std::string library = (self.parent_path() / "sorvan_lsp.so").string();
  if (library.find_first_of(" :") != std::string::npos) {
    std::fprintf(stderr, "morvil-run: %s cannot be preloaded from a path with ' ' or ':'\n",
                 library.c_str());
    return false;
  }
  const char* previous = std::getenv("LD_PRELOAD");
  std::string preload = library;
  if (previous && *previous) preload += std::string(":") + previous;
  ::setenv("LD_PRELOAD", preload.c_str(), 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: morvil-run PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  if (!AccelerateSelf() && !Preload()) return 127;
  ::execvp(argv[1], argv + 1);
  std::fprintf(stderr, "morvil-run: %s: %s\n", argv[1], std::strerror(errno));
  return 127;
}
