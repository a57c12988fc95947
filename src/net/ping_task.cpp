#include "net/ping_task.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "base/diagnostic.h"

namespace {

void Deliver(const PingTask& task, int32_t first, int32_t second) {
  if (task.deliver) task.deliver(first, second);
}

}  // namespace

int RunPingTask(std::unique_ptr<PingTask> task) {
  if (task->probe->Resolve(task->host) != 0) {
    Deliver(*task, -1, 0);
    return -1;
  }
  int32_t count = std::max(task->count, 0);
  int64_t sum = 0;
  for (int32_t i = 0; i < count; ++i) {
    uint32_t status = task->probe->SendEcho(task->roundTripTime, task->packetSize, task->timeout);
    if (status == kIcmpSuccess) {
      sum += task->roundTripTime;
    } else if (status == kIcmpSourceQuench) {
      ++task->quenchReplies;
    } else {
      ++task->failures;
      if (status == kIcmpAccessDenied) ++task->deniedProbes;
    }
  }
  // Quench replies stay in the divisor although their times are not in the sum.
  int32_t counted = count - task->failures;
  task->roundTripTime = counted == 0 ? 0 : static_cast<int32_t>(static_cast<double>(sum) / counted);

  char summary[160];
  std::snprintf(summary, sizeof summary,
                "need varg time : %d, \n test times : %d, timeout: %d, less: %d\n",
                task->roundTripTime, count, task->failures, task->quenchReplies);
  PrintDiagnostic(summary);
  if (count > 0 && task->deniedProbes == count) {
    Deliver(*task, kPingNotPermitted, 0);
    return 0;
  }
  Deliver(*task, task->roundTripTime, task->quenchReplies);
  return 0;
}

void StartPingTask(std::unique_ptr<PingTask> task) {
  std::thread(RunPingTask, std::move(task)).detach();
}

void Ping(const Text& host, int32_t count, int32_t timeout, PingResultCallback deliver) {
  auto task = std::make_unique<PingTask>();
  task->host = host;
  task->count = count;
  task->timeout = timeout;
  task->deliver = std::move(deliver);
  task->probe = std::make_unique<CBasePing>();
  StartPingTask(std::move(task));
}
