// Stand-in for the backend service's starter. "Caddow.exe -i" starts the service
// (morvil-backend-service, beside this program) in a session of its own and exits 0 once the
// service's pipe listens, or at once when a service already runs; 1 when the service cannot be
// started or does not come up within 3 seconds (it is then ended); 2 for other arguments.
//
// Environment for tests:
//   MORVIL_STANDIN_CADDOW_EXIT=N  exit with N at once, starting nothing
//   MORVIL_STANDIN_CADDOW_HANG=1  never end (until killed)
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "backend-service/service_files.h"
#include "platform/process_spawn.h"
#include "platform/runtime_dir.h"

namespace {

constexpr std::chrono::milliseconds kStartLimit{3000};
constexpr std::chrono::milliseconds kPollInterval{10};

bool PidFileNames(pid_t pid) {
  auto dir = RuntimeDirectory();
  if (!dir) return false;
  std::ifstream in(dir.value() / kServicePidFile);
  pid_t written = 0;
  return (in >> written) && written == pid;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* code = std::getenv("MORVIL_STANDIN_CADDOW_EXIT")) return std::atoi(code);
  if (std::getenv("MORVIL_STANDIN_CADDOW_HANG"))
    for (;;) ::pause();
  if (argc != 2 || std::strcmp(argv[1], "-i") != 0) return 2;

  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return 1;
  SpawnRequest request;
  request.program = (self.parent_path() / "morvil-backend-service").string();
  request.arguments = {request.program};
  request.detached = true;
  Result<ProcessHandle> service = SpawnProcess(request);
  if (!service) return 1;

  auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (PidFileNames(service->pid())) return 0;  // it listens; it outlives us
    if (service->HasEnded()) {
      Result<int> status = ReapChild(*service);
      return status && *status == 0 ? 0 : 1;  // 0: another service already runs
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  (void)service->Signal(SIGKILL);
  (void)ReapChild(*service);
  return 1;
}
