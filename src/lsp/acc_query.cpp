#include "lsp/acc_query.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lsp/real_calls.h"
#include "lsp/wine_program_path.h"

namespace {

// How long a busy pipe (the server is answering another process) is retried, measured on the
// clock so that a loaded machine does not stretch it, the pauses between tries (short at first:
// the server takes its next client within microseconds; never long, or processes that retry more
// often take every free turn and a patient one is starved), and how long the answer is awaited.
constexpr long kBusyRetryNs = 1'000'000'000;
constexpr long kFirstBusyPauseNs = 50'000;
constexpr long kLongestBusyPauseNs = 400'000;
constexpr int kReplyWaitMs = 2000;

long MonotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000'000L + now.tv_nsec;
}

// The socket path, after checking that the private directory is ours and closed to others.
bool PipePath(sockaddr_un& address) {
  char directory[sizeof address.sun_path];
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  int n = runtime && runtime[0] == '/'
              ? std::snprintf(directory, sizeof directory, "%s/morvil", runtime)
              : std::snprintf(directory, sizeof directory, "/tmp/morvil-%u",
                              static_cast<unsigned>(::geteuid()));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof directory) return false;
  struct stat st {};
  if (::lstat(directory, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 077) != 0)
    return false;
  address.sun_family = AF_UNIX;
  n = std::snprintf(address.sun_path, sizeof address.sun_path, "%s/pipe/brelanpipe", directory);
  return n > 0 && static_cast<size_t>(n) < sizeof address.sun_path;
}

// A connected socket to the pipe, or -1 with `result` saying why.
int OpenPipe(AskResult& result) {
  sockaddr_un address{};
  result = AskResult::kNoPipe;
  if (!PipePath(address)) return -1;
  const RealCalls& real = Real();
  const long started = MonotonicNs();
  for (long pause_ns = kFirstBusyPauseNs;; pause_ns = std::min(2 * pause_ns, kLongestBusyPauseNs)) {
    int fd = real.socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (real.connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      ucred peer{};
      socklen_t length = sizeof peer;
      if (real.getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
          peer.uid == ::geteuid())
        return fd;
      __close(fd);
      return -1;
    }
    int error = errno;
    __close(fd);
    // Refused: the one instance is serving another process (or a crashed server left its file).
    if (error != ECONNREFUSED && error != EAGAIN) return -1;
    if (MonotonicNs() - started >= kBusyRetryNs) {
      result = AskResult::kBusy;
      return -1;
    }
    timespec pause{0, pause_ns};
    ::nanosleep(&pause, nullptr);
  }
}

// The path this process is asked about: its executable's, or under Wine its Windows program's.
size_t ProgramPath(char* out, size_t out_size) {
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return 0;
  exe[n] = '\0';
  if (!IsWineLoader(exe)) return ProgramPathToAsk(exe, nullptr, 0, out, out_size);
  // The loader and the program come first; a longer command line is cut after them. The
  // buffers stay small: this runs inside the program's connect, on whatever stack it has.
  char cmdline[4096];
  ssize_t got = 0;
  int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    got = __read(fd, cmdline, sizeof cmdline);
    __close(fd);
  }
  return ProgramPathToAsk(exe, cmdline, got > 0 ? static_cast<size_t>(got) : 0, out, out_size);
}

// One request on a new connection. `hung_up` tells a connection that the server ended without
// a reply from one that gave none in time.
AskResult AskOnce(std::span<const uint8_t> request, std::span<uint8_t> answer, size_t& answer_size,
                  bool& hung_up) {
  hung_up = false;
  AskResult result;
  int fd = OpenPipe(result);
  if (fd < 0) return result;
  const RealCalls& real = Real();
  result = AskResult::kNoReply;
  if (real.send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    hung_up = errno == EPIPE || errno == ECONNRESET;
  } else {
    pollfd wait{fd, POLLIN, 0};
    timespec limit{kReplyWaitMs / 1000, (kReplyWaitMs % 1000) * 1000000L};
    if (real.ppoll(&wait, 1, &limit, nullptr) == 1) {
      ssize_t got = real.recv(fd, answer.data(), answer.size(), MSG_DONTWAIT);
      // A reply is never empty: nothing to read is the server's hang-up.
      if (got > 0) {
        answer_size = static_cast<size_t>(got);
        result = AskResult::kAnswered;
      } else {
        hung_up = got == 0 || errno == ECONNRESET;
      }
    }
  }
  __close(fd);
  return result;
}

}  // namespace

AskResult AskAccPipe(std::span<const uint8_t> request, std::span<uint8_t> answer,
                     size_t& answer_size) {
  // The server ends a connection whose request has not come within a short time, which a
  // program stopped or starved between its connect and its send may meet: one more try.
  bool hung_up = false;
  AskResult result = AskOnce(request, answer, answer_size, hung_up);
  if (result == AskResult::kNoReply && hung_up)
    result = AskOnce(request, answer, answer_size, hung_up);
  return result;
}

bool QueryAcceleration(AccReply& reply) {
  char program[4096];
  size_t program_size = ProgramPath(program, sizeof program);
  if (program_size == 0) return false;
  uint8_t request[2 * 4096 + 64];
  size_t size = EncodeAccRequest(request, ::getpid(), std::string_view(program, program_size));
  if (size == 0) return false;
  uint8_t answer[4096];
  size_t answer_size = 0;
  return AskAccPipe({request, size}, answer, answer_size) == AskResult::kAnswered &&
         ParseAccReply({answer, answer_size}, reply);
}
