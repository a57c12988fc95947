// The backend service's starter. "Caddow.exe -i" makes sure a backend service serves
// "\\.\pipe\ZrNetworkGameBackendService":
//   - where systemd runs (/run/systemd/system) and the service's units are installed, it starts
//     the system service's socket (systemctl start morvil-backend-service.socket, without asking
//     for a password) and exits 0 once the system pipe answers;
//   - otherwise it starts the user's service (morvil-backend-service, beside this program) in a
//     session of its own and exits 0 once the service's pipe listens, or at once when a service
//     already runs.
// Exit status: 1 when no service could be started or none came up within 3 seconds (a user's
// service that does not come up is ended); 2 for other arguments.
//
// Environment for tests:
//   MORVIL_STANDIN_CADDOW_EXIT=N  exit with N at once, starting nothing
//   MORVIL_STANDIN_CADDOW_HANG=1  never end (until killed)
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "backend_service/service_files.h"
#include "pipe/system_service.h"
#include "platform/process_spawn.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kStartLimit{3000};
constexpr milliseconds kPollInterval{10};
constexpr const char* kSocketUnit = "morvil-backend-service.socket";

std::optional<std::string> FindInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// Starts the system service's socket through systemd; true once the system pipe answers.
bool StartSystemService(steady_clock::time_point deadline) {
  struct stat st {};
  if (::stat("/run/systemd/system", &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  std::optional<std::string> systemctl = FindInPath("systemctl");
  if (!systemctl) return false;
  SpawnRequest request;
  request.program = *systemctl;
  request.arguments = {*systemctl, "--no-ask-password", "start", kSocketUnit};
  Result<ProcessHandle> child = SpawnProcess(request);
  if (!child) return false;
  auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now());
  Result<bool> ended = child->WaitEnded(std::max(left, milliseconds(0)));
  if (!ended || !*ended) {
    (void)child->Signal(SIGKILL);
    (void)ReapChild(*child);
    return false;
  }
  Result<int> status = ReapChild(*child);
  if (!status || *status != 0) return false;  // units not installed, or not allowed
  while (steady_clock::now() < deadline) {
    if (SystemServiceAnswers(kStartLimit)) return true;
    std::this_thread::sleep_for(kPollInterval);
  }
  return false;
}

// Starts the user's service; its exit code as Caddow's.
int StartUserService(steady_clock::time_point deadline) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return 1;
  SpawnRequest request;
  request.program = (self.parent_path() / "morvil-backend-service").string();
  request.arguments = {request.program};
  request.detached = true;
  Result<ProcessHandle> service = SpawnProcess(request);
  if (!service) return 1;
  while (steady_clock::now() < deadline) {
    if (ServicePidFileNames(service->pid())) return 0;  // it listens; it outlives us
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

}  // namespace

int main(int argc, char** argv) {
  if (const char* code = std::getenv("MORVIL_STANDIN_CADDOW_EXIT")) return std::atoi(code);
  if (std::getenv("MORVIL_STANDIN_CADDOW_HANG"))
    for (;;) ::pause();
  if (argc != 2 || std::strcmp(argv[1], "-i") != 0) return 2;
  const auto deadline = steady_clock::now() + kStartLimit;
  if (StartSystemService(deadline)) return 0;
  return StartUserService(deadline);
}
