// Milliseconds on the monotonic clock, for time-outs and ages that must not jump with the wall
// clock. Thread-safe and async-signal-safe.
#pragma once

#include <time.h>

#include <cstdint>

[[nodiscard]] inline int64_t NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
