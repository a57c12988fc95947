// Sends report requests (HTTP GETs whose answers nobody reads) on a bounded set of worker
// threads, so that a burst of events cannot start a thread per request. Workers start on demand
// up to the bound and live until the pool ends.
//
// `pendingRequests` counts requests queued or in flight: it rises in Submit, on the caller's
// thread, and falls when a request has been sent or has failed, so a waiter that sees 0 knows
// nothing is left. Submit is thread-safe. Destruction abandons queued requests, cancels those in
// flight (each ends within about a second) and joins the workers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/internet_session.h"

class ReportRequestPool {
 public:
  explicit ReportRequestPool(size_t max_workers);
  ~ReportRequestPool();
  ReportRequestPool(const ReportRequestPool&) = delete;
  ReportRequestPool& operator=(const ReportRequestPool&) = delete;

  // Queues a GET of `url` (http or https; port 443 means TLS) on `session`. A URL that does not
  // parse still counts until a worker drops it.
  void Submit(std::shared_ptr<InternetSession> session, std::string url);

  [[nodiscard]] int32_t pending() const { return pendingRequests.load(); }
  [[nodiscard]] size_t worker_count() const;

 private:
  struct Task {
    std::shared_ptr<InternetSession> session;
    std::string url;
  };
  void WorkerLoop();
  void Send(const Task& task);

  const size_t max_workers_;
  std::atomic<int32_t> pendingRequests{0};
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> queue_;
  size_t idle_workers_ = 0;
  std::vector<std::thread> workers_;
};
