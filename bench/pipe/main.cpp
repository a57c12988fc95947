// The acceleration request server against a bare SOCK_SEQPACKET echo server of the same shape
// (one client at a time, one reply per message), measured in the same run with the same client:
// requests answered per second on one connection, and new connections per second (open, one
// request, close). The server's diagnostic lines go to /dev/null meanwhile.
//
//   pipe_bench [requests] [connections] [same-cpu]
//
// Counts are per round; five alternating rounds run and their medians are shown. By default the
// client runs on the first CPU and the servers on the last (a ping-pong across CPUs, as between
// two processes); "same-cpu" puts everything on the first.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "pipe/acc_request_server.h"
#include "pipe/pipe_message.h"
#include "platform/pipe_client.h"
#include "platform/pipe_name.h"
#include "services/pairs.h"

namespace {

using Clock = std::chrono::steady_clock;

const Text kRequest = u"RequestAcc,4242,/usr/games/Foo Game/foo.exe";

// Listens at `path`: binds under a name beside it and renames that over the path, so that the
// path never goes missing between two listeners (the pipe's own way).
UniqueFd Listen(const std::filesystem::path& path) {
  UniqueFd listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  const std::string temporary = path.string() + ".new";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (temporary.size() >= sizeof address.sun_path) {
    std::fprintf(stderr, "echo server: path too long: %s\n", temporary.c_str());
    std::exit(1);
  }
  temporary.copy(address.sun_path, temporary.size());
  ::unlink(temporary.c_str());
  if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.get(), 0) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    std::perror("echo server");
    std::exit(1);
  }
  return listener;
}

void Echo(int client) {
  std::array<char, 2048> buffer;
  for (;;) {
    ssize_t n = ::recv(client, buffer.data(), buffer.size(), 0);
    if (n <= 0) return;
    if (::send(client, buffer.data(), static_cast<size_t>(n), MSG_NOSIGNAL) < 0) return;
  }
}

// Bare echo server: accept, echo each message until the hang-up, close. With `refuse_while_busy`
// it has the pipe instance's shape: it stops listening while it serves a client and listens anew
// afterwards, so a client that comes meanwhile is refused; without, its listener stays and queues
// the next client while the current one is served.
void EchoServer(std::filesystem::path path, bool refuse_while_busy) {
  UniqueFd listener = Listen(path);
  for (;;) {
    UniqueFd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) continue;
    if (refuse_while_busy) listener.reset();
    Echo(client.get());
    client.reset();
    if (refuse_while_busy) listener = Listen(path);
  }
}

void StartEchoServer(const Text& name, bool refuse_while_busy) {
  Result<std::filesystem::path> path = PipeSocketPath(name);
  if (!path) {
    std::fprintf(stderr, "echo server: %s\n", path.error().context.c_str());
    std::exit(1);
  }
  std::thread(EchoServer, *path, refuse_while_busy).detach();
}

// Opens the pipe, retrying while the server is between clients (refused; once the server has
// started, never missing).
std::unique_ptr<PipeConnection> Open(const Text& name, bool starting = false) {
  for (;;) {
    Result<std::unique_ptr<PipeConnection>> c = OpenPipe(name);
    if (c) return std::move(*c);
    if (c.error().code != EBUSY && !(starting && c.error().code == ENOENT)) {
      std::fprintf(stderr, "open failed: %s\n", c.error().context.c_str());
      std::exit(1);
    }
    sched_yield();
  }
}

void RoundTrip(PipeConnection& c, const std::vector<std::byte>& request) {
  std::array<std::byte, 2048> buffer;
  if (!c.write(request) || !c.read(buffer)) {
    std::fprintf(stderr, "round trip failed\n");
    std::exit(1);
  }
}

struct Figures {
  double requests_per_second;
  double us_per_request;
  double connections_per_second;
};

Figures Measure(const Text& name, int requests, int connections) {
  const std::vector<std::byte> request = EncodePipeMessage(kRequest);
  Figures f{};
  {
    auto c = Open(name);
    for (int i = 0; i < 1000; ++i) RoundTrip(*c, request);
    auto start = Clock::now();
    for (int i = 0; i < requests; ++i) RoundTrip(*c, request);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.requests_per_second = requests / seconds;
    f.us_per_request = seconds * 1e6 / requests;
  }
  auto start = Clock::now();
  for (int i = 0; i < connections; ++i) {
    auto c = Open(name);
    RoundTrip(*c, request);
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  f.connections_per_second = connections / seconds;
  return f;
}

constexpr int kRounds = 5;

// The run's runtime directory, under TMPDIR. Removed when the process exits, also through one of
// the std::exit calls above on a failure.
std::string g_scratch;

void RemoveScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(g_scratch, ignored);
}

bool MakeScratchDirectory() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string pattern = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/morvil-bench-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return false;
  }
  g_scratch = pattern;
  std::atexit(RemoveScratchDirectory);
  return true;
}

// Threads started afterwards inherit the affinity.
void PinToCpu(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

Figures Median(std::vector<Figures> rounds) {
  auto median = [&](double Figures::*field) {
    std::vector<double> v;
    for (const Figures& f : rounds) v.push_back(f.*field);
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  return Figures{median(&Figures::requests_per_second), median(&Figures::us_per_request),
                 median(&Figures::connections_per_second)};
}

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int connections = argc > 2 ? std::atoi(argv[2]) : 3000;
  const bool same_cpu = argc > 3 && std::strcmp(argv[3], "same-cpu") == 0;
  if (!MakeScratchDirectory()) return 1;
  ::setenv("XDG_RUNTIME_DIR", g_scratch.c_str(), 1);

  InsertPair(u"acc.processes", u"bar.exe,foo.exe,baz.exe");
  InsertPair(u"acc.proxy_server", u"10.0.0.1");
  InsertPair(u"acc.proxy_port", u"8080");
  InsertPair(u"acc.proxy_token", u"0123456789abcdef");
  const Text echo_name = u"\\\\.\\pipe\\benchEcho";
  const Text queueing_name = u"\\\\.\\pipe\\benchQueueingEcho";

  // Diagnostics of the server thread go nowhere, as in a windowed process.
  int saved_stdout = ::dup(STDOUT_FILENO);
  int null_fd = ::open("/dev/null", O_WRONLY);
  ::dup2(null_fd, STDOUT_FILENO);
  const int last_cpu = static_cast<int>(std::thread::hardware_concurrency()) - 1;
  const int server_cpu = same_cpu || last_cpu < 0 ? 0 : last_cpu;
  PinToCpu(server_cpu);
  StartEchoServer(queueing_name, false);
  StartEchoServer(echo_name, true);
  if (!StartAccRequestServer(nullptr)) return 1;
  PinToCpu(0);
  for (const Text* name : {&queueing_name, &echo_name, &AccPipeName}) (void)Open(*name, true);
  // Alternating rounds, so that both servers meet the same machine; the median round counts.
  std::vector<Figures> queueing_rounds, bare_rounds, acc_rounds;
  for (int round = 0; round < kRounds; ++round) {
    queueing_rounds.push_back(Measure(queueing_name, requests, connections));
    bare_rounds.push_back(Measure(echo_name, requests, connections));
    acc_rounds.push_back(Measure(AccPipeName, requests, connections));
  }
  Figures queueing = Median(queueing_rounds);
  Figures bare = Median(bare_rounds);
  Figures acc = Median(acc_rounds);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the server's last lines
  std::fflush(stdout);
  ::dup2(saved_stdout, STDOUT_FILENO);

  std::printf("client on CPU 0, servers on CPU %d; medians of %d rounds\n", server_cpu, kRounds);
  std::printf("%-36s %12s %12s %14s\n", "server", "requests/s", "us/request", "connections/s");
  std::printf("%-36s %12.0f %12.2f %14.0f\n", "bare echo, queues the next client",
              queueing.requests_per_second, queueing.us_per_request,
              queueing.connections_per_second);
  std::printf("%-36s %12.0f %12.2f %14.0f\n", "bare echo, pipe shape (refuses busy)",
              bare.requests_per_second, bare.us_per_request, bare.connections_per_second);
  std::printf("%-36s %12.0f %12.2f %14.0f\n", "acceleration request server",
              acc.requests_per_second, acc.us_per_request, acc.connections_per_second);
  std::printf("%-36s %12.2f %12s %14.2f\n", "ratio (server / pipe-shaped bare)",
              acc.requests_per_second / bare.requests_per_second, "",
              acc.connections_per_second / bare.connections_per_second);
  std::fflush(stdout);
  return 0;
}
