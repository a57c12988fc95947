// The acceleration request server without the window: runs the server thread that morvil's
// main window starts, with the pair store filled from the command line, so that the
// network-stack component can be tested and measured on a machine without a display.
//
//   acc-server [KEY=VALUE...]
//
// Stores each pair (for instance acc.processes=curl,udp-probe), starts the server, prints
// "ready" on a line of its own once the pipe accepts clients, then serves (printing the server's diagnostic lines)
// until killed.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "base/text.h"
#include "pipe/acc_request_server.h"
#include "platform/pipe_client.h"
#include "services/pairs.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* equals = std::strchr(argv[i], '=');
    if (equals == nullptr) {
      std::fprintf(stderr, "usage: acc-server [KEY=VALUE...]\n");
      return 2;
    }
    InsertPair(FromUtf8(std::string_view(argv[i], equals - argv[i])), FromUtf8(equals + 1));
  }
  if (!StartAccRequestServer(nullptr)) return 1;
  // The server takes its first client as soon as its pipe exists; a probe that connects is
  // served like any client and hangs up at once.
  for (int attempt = 0; !OpenPipe(AccPipeName); ++attempt) {
    if (attempt == 5000) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // The probe's own diagnostic lines may be under way on the server thread, and the read
  // failure line ends without a line break: a line break first keeps "ready" on a line of its
  // own whatever comes before it.
  std::printf("\nready\n");
  std::fflush(stdout);
  for (;;) ::pause();
}
