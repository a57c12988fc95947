#include "services/process_methods.h"

#include <climits>
#include <csignal>
#include <map>
#include <mutex>

#include "base/compare.h"
#include "platform/process_handle.h"
#include "platform/process_list.h"

namespace {

class ProcessHandleTable {
 public:
  // The handle of the process behind `process`, which the table takes over unless it already
  // holds that process.
  int32_t Add(ProcessHandle process) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [](const auto& entry) { return entry.second.HasEnded(); });
    for (const auto& [handle, held] : entries_)
      if (held.pid() == process.pid()) return handle;  // alive, so the same process
    int32_t handle = NextHandle();
    entries_.emplace(handle, std::move(process));
    return handle;
  }

  bool Kill(int32_t handle) {
    std::lock_guard lock(mutex_);
    auto entry = entries_.find(handle);
    if (entry == entries_.end() || entry->second.HasEnded()) return false;
    return static_cast<bool>(entry->second.Signal(SIGKILL));
  }

 private:
  // Multiples of 4 as the platform's handles are, never 0, not reused until the range wraps.
  int32_t NextHandle() {
    do {
      next_ = next_ >= INT32_MAX - 4 ? 4 : next_ + 4;
    } while (entries_.count(next_));
    return next_;
  }

  std::mutex mutex_;
  std::map<int32_t, ProcessHandle> entries_;
  int32_t next_ = 0;
};

ProcessHandleTable& Table() {
  static ProcessHandleTable* table = new ProcessHandleTable;  // used until the process ends
  return *table;
}

}  // namespace

int32_t FindProcessByExecFileName(const Text& name) {
  for (const ProcessEntry& entry : ListProcesses()) {
    if (CompareNoCase(FromUtf8(entry.exe_name), name) != 0) continue;
    Result<ProcessHandle> process = ProcessHandle::Open(entry.pid);
    // Only a handle that may end the process is handed out, as a handle with terminate access.
    if (!process || !process->Signal(0)) return 0;
    return Table().Add(std::move(*process));
  }
  return 0;
}

bool CloseProcessByHandle(int32_t handle) {
  return handle != 0 && Table().Kill(handle);
}
