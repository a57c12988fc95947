// The caller's cost of one report event, and a burst of events delivered to a loopback server
// with the process's peak thread count while it drains.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "base/text.h"
#include "report/report_instance.h"
#include "support/loopback_http_server.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

int ThreadCount() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  return -1;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// CPU time of the calling thread: what the caller pays, whoever the scheduler runs meanwhile.
double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  const int burst = argc > 1 ? std::atoi(argv[1]) : 10000;
  testing_support::LoopbackHttpServer server;
  ReportInstance<char16_t> reports({.reportUrl = FromUtf8(server.http("/report")),
                                    .analyticsUrl = FromUtf8(server.http("")),
                                    .trackingId = u"UA-13572468-1",
                                    .userAgent = "morvil"});

  // Single events, each delivered before the next, so the caller's cost is measured alone.
  constexpr int kSingles = 200;
  double total = 0, worst = 0, cpu = 0;
  for (int i = 0; i < kSingles; ++i) {
    auto t0 = Clock::now();
    double c0 = ThreadCpuSeconds();
    reports.SendReport(u"single", FromUtf8(std::to_string(i)));
    cpu += ThreadCpuSeconds() - c0;
    double took = Seconds(Clock::now() - t0);
    total += took;
    worst = std::max(worst, took);
    while (reports.pendingRequests() != 0) std::this_thread::sleep_for(1ms);
  }
  std::printf(
      "one StartReport, caller's cost: wall mean %.1f us, worst %.1f us; caller CPU "
      "mean %.1f us (%d events, the first opens the session)\n",
      total / kSingles * 1e6, worst * 1e6, cpu / kSingles * 1e6, kSingles);

  std::atomic<bool> sampling{true};
  std::atomic<int> peak{ThreadCount()};
  std::thread sampler([&] {
    while (sampling) {
      peak = std::max(peak.load(), ThreadCount());
      std::this_thread::sleep_for(1ms);
    }
  });
  auto t0 = Clock::now();
  for (int i = 0; i < burst; ++i) reports.SendReport(u"burst", FromUtf8(std::to_string(i)));
  auto queued = Clock::now();
  while (reports.pendingRequests() != 0) std::this_thread::sleep_for(1ms);
  auto drained = Clock::now();
  sampling = false;
  sampler.join();
  size_t received = server.WaitForRequests(kSingles * 2 + burst * 2, 30s).size() - kSingles * 2;
  std::printf(
      "burst of %d events: queued in %.3f s (%.1f us per event), %zu of %d requests "
      "delivered in %.3f s (%.0f requests/s)\n",
      burst, Seconds(queued - t0), Seconds(queued - t0) / burst * 1e6, received, burst * 2,
      Seconds(drained - t0), burst * 2 / Seconds(drained - t0));
  std::printf("peak threads in the process: %d (of them %zu report workers)\n", peak.load(),
              reports.workerThreads());
  std::string names;
  for (auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    names += " " + name;
  }
  std::printf("threads at the end:%s\n", names.c_str());
  return 0;
}
