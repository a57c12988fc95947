#include "platform/icmp_echo.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "platform/icmp_helper_protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

// Time the helper gets beyond the echo's own time-out to start, answer and end.
constexpr std::chrono::milliseconds kHelperGrace{1000};
// Longer output than one reply line is not an answer.
constexpr size_t kMaxHelperOutput = 64;

struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
};

// Reads the child's output until it closes it or the deadline passes; nothing on time-out.
std::optional<std::string> ReadUntilClosed(int fd, Clock::time_point deadline) {
  std::string output;
  char buffer[kMaxHelperOutput];
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd watch{fd, POLLIN, 0};
    int ready = poll(&watch, 1, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return output;
    output.append(buffer, static_cast<size_t>(got));
    if (output.size() > kMaxHelperOutput) return std::nullopt;
  }
}

}  // namespace

IcmpEchoReply EchoThroughHelper(const std::filesystem::path& helper, uint32_t address,
                                std::span<const uint8_t> data, uint32_t timeout_ms) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return {kIcmpNoResources, 0};
  UniqueFd read_end(ends[0]), write_end(ends[1]);

  SpawnActions spawn;
  posix_spawn_file_actions_addopen(&spawn.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&spawn.actions, write_end.get(), STDOUT_FILENO);
  std::vector<std::string> arguments = IcmpHelperArguments(address, data, timeout_ms);
  arguments.insert(arguments.begin(), helper.string());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // The helper needs nothing from the environment, and one with privileges should get nothing.
  char* no_environment[] = {nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, helper.c_str(), &spawn.actions, nullptr, argv.data(), no_environment) != 0)
    return {kIcmpAccessDenied, 0};
  write_end.reset();

  std::optional<std::string> output = ReadUntilClosed(
      read_end.get(), Clock::now() + std::chrono::milliseconds(timeout_ms) + kHelperGrace);
  if (!output) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!output || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {kIcmpGeneralFailure, 0};
  return ParseIcmpHelperReply(*output).value_or(IcmpEchoReply{kIcmpGeneralFailure, 0});
}

IcmpEchoReply SendIcmpEcho(uint32_t address, std::span<const uint8_t> data, uint32_t timeout_ms) {
  Result<IcmpEchoSocket> socket = IcmpEchoSocket::Open();
  if (socket) return socket->Echo(address, data, timeout_ms);
  int error = socket.error().code;
  if (error != EPERM && error != EACCES) return {kIcmpGeneralFailure, 0};
  std::filesystem::path helper =
      std::filesystem::path(ToUtf8(GetAppDirectory())) / kIcmpEchoHelperName;
  return EchoThroughHelper(helper, address, data, timeout_ms);
}
