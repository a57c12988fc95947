// A latency measurement: resolve a host, send a series of echo requests one after another, and
// deliver (average round-trip time in ms, source quench replies) once, or (-1, 0) when the host
// does not resolve, or (-2, 0) when not one echo request of the series could be sent because the
// system does not let this user send any (so that the page does not show the failure as 0 ms). The
// series runs on a worker thread of its own that owns its task; the result reaches the caller only
// through the delivery callback, called on that worker.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/text.h"
#include "net/base_ping.h"

// The first number delivered when no echo request of a series could be sent (see above).
inline constexpr int32_t kPingNotPermitted = -2;

// Receives one result. The main window connects it to SendMessageW(window, 1125, first, second),
// which waits until the window has handled it.
using PingResultCallback = std::function<void(int32_t first, int32_t second)>;

struct PingTask {
  Text host;
  int32_t count = 0;
  int32_t roundTripTime = 0;  // each probe's time, then the average
  int32_t timeout = 0;        // per echo request, in milliseconds
  int32_t packetSize = 64;
  int32_t failures = 0;       // probes answered with any status but 0 and 11016
  int32_t quenchReplies = 0;  // probes answered with 11016
  int32_t deniedProbes = 0;   // probes that could not be sent for want of permission (5)
  PingResultCallback deliver;
  std::unique_ptr<CBasePing> probe;
};

// Runs the whole series on the calling thread and delivers its result. Returns the worker's exit
// code: 0 after a series, -1 when the host did not resolve. A negative count counts as 0. Before
// delivering, a series writes the summary line "need varg time : %d, \n test times : %d, timeout:
// %d, less: %d\n" (average, count, failures, quench replies) to standard output; nothing waits for
// a person, so the result reaches the page as soon as the series ends.
int RunPingTask(std::unique_ptr<PingTask> task);

// Starts RunPingTask on a new detached thread and returns at once.
void StartPingTask(std::unique_ptr<PingTask> task);

// Script method: measures `host` with `count` echo requests of `timeout` ms each on a worker.
void Ping(const Text& host, int32_t count, int32_t timeout, PingResultCallback deliver);
