#include "report/report_request_pool.h"

#include "platform/http_url.h"

namespace {

// The answer's status and body are not used; the body is read only so that the connection can
// serve the next request.
class DiscardingSink : public HttpResponseSink {
 public:
  bool OnStatus(long) override { return true; }
  bool OnData(const char*, size_t) override { return true; }
};

}  // namespace

ReportRequestPool::ReportRequestPool(size_t max_workers) : max_workers_(max_workers) {}

ReportRequestPool::~ReportRequestPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    pendingRequests -= static_cast<int32_t>(queue_.size());
    queue_.clear();
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void ReportRequestPool::Submit(std::shared_ptr<InternetSession> session, std::string url) {
  ++pendingRequests;
  std::lock_guard lock(mutex_);
  if (stopping_) {
    --pendingRequests;
    return;
  }
  queue_.push_back(Task{std::move(session), std::move(url)});
  if (idle_workers_ < queue_.size() && workers_.size() < max_workers_) {
    try {
      workers_.emplace_back([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
      // No new thread: the workers already running take the request.
      if (workers_.empty()) {
        queue_.pop_back();
        --pendingRequests;
      }
    }
    return;
  }
  wake_.notify_one();
}

size_t ReportRequestPool::worker_count() const {
  std::lock_guard lock(mutex_);
  return workers_.size();
}

void ReportRequestPool::WorkerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_workers_;
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    --idle_workers_;
    if (stopping_) return;
    Task task = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    Send(task);
    --pendingRequests;
    lock.lock();
  }
}

void ReportRequestPool::Send(const Task& task) {
  std::optional<HttpUrlParts> parts = ParseHttpUrl(task.url);
  if (!parts || !task.session) return;
  HttpRequest request;
  request.url = RequestUrlFor(*parts);
  request.cancel = &stopping_;
  DiscardingSink sink;
  (void)task.session->Send(request, sink);
}
