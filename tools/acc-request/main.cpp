// Stand-in for the network-stack component: asks the program over its acceleration pipe
// whether processes are to be accelerated, the way the component does from inside a program.
//
//   acc-request [--pipe NAME] [--timeout-ms N] [REQUEST...]
//
// Sends each REQUEST as one UTF-16LE message (default: "RequestAcc,<own pid>,<own exe path>")
// and prints each reply on its own line in UTF-8; a request that gets no reply within the time-out
// (default 2000 ms) prints "(no reply)". Exit status: 0 when every request was answered, 1 when
// the pipe cannot be opened or fails, 2 on bad usage, 3 when some request got no reply.
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/pipe_client.h"

namespace {

std::vector<std::byte> Encode(const Text& text) {
  std::vector<std::byte> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::byte>(unit & 0xff));
    bytes.push_back(static_cast<std::byte>(unit >> 8));
  }
  return bytes;
}

Text Decode(const std::byte* bytes, size_t size) {
  Text text;
  for (size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(static_cast<unsigned>(bytes[i]) |
                                         (static_cast<unsigned>(bytes[i + 1]) << 8)));
  return text;
}

int Usage() {
  std::fprintf(stderr, "usage: acc-request [--pipe NAME] [--timeout-ms N] [REQUEST...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string pipe = "\\\\.\\pipe\\brelanPipe";
  long timeout_ms = 2000;
  std::vector<std::string> requests;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pipe") == 0 && i + 1 < argc) {
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
  if (requests.empty()) {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    requests.push_back("RequestAcc," + std::to_string(::getpid()) + "," + exe.string());
  }

  Result<std::unique_ptr<PipeConnection>> connection = OpenPipe(FromUtf8(pipe));
  if (!connection) {
    std::fprintf(stderr, "acc-request: cannot open %s: %s\n", pipe.c_str(),
                 std::strerror(connection.error().code));
    return 1;
  }
  PipeConnection& pipe_end = **connection;
  int status = 0;
  for (const std::string& request : requests) {
    if (!pipe_end.write(Encode(FromUtf8(request)))) {
      std::fprintf(stderr, "acc-request: write failed\n");
      return 1;
    }
    Result<bool> ready = pipe_end.wait_readable(std::chrono::milliseconds(timeout_ms));
    if (!ready) return 1;
    if (!*ready) {
      std::printf("(no reply)\n");
      status = 3;
      continue;
    }
    std::array<std::byte, 65536> buffer;
    Result<PipeConnection::ReadResult> reply = pipe_end.read(buffer);
    if (!reply || !reply->complete) {
      std::fprintf(stderr, "acc-request: read failed\n");
      return 1;
    }
    std::printf("%s\n", ToUtf8(Decode(buffer.data(), reply->size)).c_str());
  }
  return status;
}
