// Stand-in for the network-stack component: asks the program over its acceleration pipe
// whether processes are to be accelerated, the way the component does from inside a program.
//
//   acc-request [--pipe NAME] [--timeout-ms N] [REQUEST...]
//   acc-request --clients N --seconds S
//
// Sends each REQUEST as one UTF-16LE message (default: "RequestAcc,<own pid>,<own exe path>")
// and prints each reply on its own line in UTF-8; a request that gets no reply within the time-out
// (default 2000 ms), or whose connection the server ends instead, prints "(no reply)" (the next
// request then goes on a new connection). Exit status: 0 when every request was answered, 1 when
// the pipe cannot be opened or fails, 2 on bad usage, 3 when some request got no reply.
//
// With --clients, N threads ask the default request for S seconds, each one request after the
// other on a fresh connection, with the component's own code (its busy retry and reply wait), as
// a burst of starting programs would; it prints how many were asked and how many got no answer,
// and why. Exit status 3 when any got none.
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "lsp/acc_query.h"
#include "pipe/pipe_message.h"
#include "platform/pipe_client.h"

namespace {

Text Decode(const std::byte* bytes, size_t size) {
  Text text;
  for (size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(static_cast<unsigned>(bytes[i]) |
                                         (static_cast<unsigned>(bytes[i + 1]) << 8)));
  return text;
}

// Opens the pipe again after the server ended the previous connection, waiting a second at most
// while the server is still finishing with it (the pipe is refused as busy meanwhile).
Result<std::unique_ptr<PipeConnection>> Reopen(const Text& pipe) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (;;) {
    Result<std::unique_ptr<PipeConnection>> connection = OpenPipe(pipe);
    if (connection || connection.error().code != EBUSY ||
        std::chrono::steady_clock::now() >= give_up)
      return connection;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: acc-request [--pipe NAME] [--timeout-ms N] [REQUEST...]\n"
               "       acc-request --clients N --seconds S\n");
  return 2;
}

std::string OwnRequest() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return "RequestAcc," + std::to_string(::getpid()) + "," + exe.string();
}

int Load(long clients, double seconds) {
  const std::vector<std::byte> bytes = EncodePipeMessage(FromUtf8(OwnRequest()));
  std::span request(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  std::atomic<long> asked{0}, no_pipe{0}, busy{0}, no_reply{0};
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  for (long i = 0; i < clients; ++i)
    threads.emplace_back([&] {
      std::array<uint8_t, 4096> answer;
      while (std::chrono::steady_clock::now() < end) {
        size_t size = 0;
        AskResult result = AskAccPipe(request, answer, size);
        ++asked;
        if (result == AskResult::kNoPipe) ++no_pipe;
        if (result == AskResult::kBusy) ++busy;
        if (result == AskResult::kNoReply) ++no_reply;
      }
    });
  for (std::thread& t : threads) t.join();
  const long lost = no_pipe + busy + no_reply;
  std::printf("clients %ld: asked %ld, lost %ld (no pipe %ld, busy %ld, no reply %ld)\n", clients,
              asked.load(), lost, no_pipe.load(), busy.load(), no_reply.load());
  return lost == 0 ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  std::string pipe = "\\\\.\\pipe\\brelanPipe";
  long timeout_ms = 2000;
  std::vector<std::string> requests;
  long clients = 0;
  double seconds = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--clients") == 0 && i + 1 < argc) {
      clients = std::strtol(argv[++i], nullptr, 10);
      if (clients <= 0) return Usage();
    } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::strtod(argv[++i], nullptr);
      if (!(seconds > 0)) return Usage();
    } else if (std::strcmp(argv[i], "--pipe") == 0 && i + 1 < argc) {
      pipe = argv[++i];
    } else if (std::strcmp(argv[i], "--timeout-ms") == 0 && i + 1 < argc) {
      timeout_ms = std::strtol(argv[++i], nullptr, 10);
      if (timeout_ms < 0) return Usage();
    } else if (std::strncmp(argv[i], "--", 2) == 0) {
      return Usage();
    } else {
      requests.emplace_back(argv[i]);
    }
  }
  if ((clients > 0) != (seconds > 0)) return Usage();
  if (clients > 0) return requests.empty() ? Load(clients, seconds) : Usage();
  if (requests.empty()) requests.push_back(OwnRequest());

  Result<std::unique_ptr<PipeConnection>> connection = OpenPipe(FromUtf8(pipe));
  if (!connection) {
    std::fprintf(stderr, "acc-request: cannot open %s: %s\n", pipe.c_str(),
                 std::strerror(connection.error().code));
    return 1;
  }
  int status = 0;
  for (const std::string& request : requests) {
    // The server ends a connection whose last message was no request once it has waited a
    // moment for one; the next request goes on a new connection.
    if (!(*connection)->is_open()) {
      connection = Reopen(FromUtf8(pipe));
      if (!connection) {
        std::fprintf(stderr, "acc-request: cannot open %s again: %s\n", pipe.c_str(),
                     std::strerror(connection.error().code));
        return 1;
      }
    }
    PipeConnection& pipe_end = **connection;
    if (!pipe_end.write(EncodePipeMessage(FromUtf8(request)))) {
      std::fprintf(stderr, "acc-request: write failed\n");
      return 1;
    }
    Result<bool> ready = pipe_end.wait_readable(std::chrono::milliseconds(timeout_ms));
    if (!ready) return 1;
    std::array<std::byte, 65536> buffer;
    Result<PipeConnection::ReadResult> reply = *ready ? pipe_end.read(buffer) : Error{EAGAIN, ""};
    if (!reply && (reply.error().code == EAGAIN || reply.error().code == EPIPE)) {
      std::printf("(no reply)\n");
      status = 3;
      if (reply.error().code == EPIPE) (void)pipe_end.close();  // the server hung up
      continue;
    }
    if (!reply || !reply->complete) {
      std::fprintf(stderr, "acc-request: read failed\n");
      return 1;
    }
    std::printf("%s\n", ToUtf8(Decode(buffer.data(), reply->size)).c_str());
  }
  return status;
}
