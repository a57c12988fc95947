// What the process methods cost: starting a program and waiting for its end
// (ShellExecuteAndWait of /bin/true), and one search of the process list by name
// (FindProcessByExecFileName of a name that no process has, so every entry is read).
//
//   shell_bench [rounds]     default 200
#include <dirent.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "services/process_methods.h"
#include "services/shell_execute.h"

namespace {

int CountProcesses() {
  int count = 0;
  if (DIR* proc = ::opendir("/proc")) {
    while (dirent* entry = ::readdir(proc))
      count += entry->d_name[0] >= '1' && entry->d_name[0] <= '9';
    ::closedir(proc);
  }
  return count;
}

// Microseconds per call, over `rounds` calls.
double Measure(int rounds, const std::function<void()>& call) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) call();
  std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  return took.count() / rounds;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  int failures = 0;
  double spawn = Measure(
      rounds, [&] { failures += ShellExecuteAndWait(u"open", u"/bin/true", u"", 0, 5000) != 0; });
  double find =
      Measure(rounds, [&] { failures += FindProcessByExecFileName(u"no-such-process-name") != 0; });
  std::printf("ShellExecuteAndWait(/bin/true): %.0f us per call (%d rounds)\n", spawn, rounds);
  std::printf("FindProcessByExecFileName (no match, %d processes): %.0f us per call\n",
              CountProcesses(), find);
  if (failures) std::printf("%d calls gave an unexpected result\n", failures);
  return failures ? 1 : 0;
}
