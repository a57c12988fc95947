// A thread that serves one pipe through the ServerPipe* operations, for tests whose own thread
// plays the client.
#pragma once

#include <functional>
#include <future>
#include <thread>

#include "pipe/server_pipe.h"

// Runs `body` on a thread of its own after ServerPipeCreate(name) succeeded there.
class ServerThread {
 public:
  ServerThread(const Text& name, std::function<void()> body) {
    std::promise<bool> created;
    std::future<bool> ready = created.get_future();
    thread_ = std::thread([&created, name, body = std::move(body)] {
      bool ok = ServerPipeCreate(name);
      created.set_value(ok);
      if (ok) body();
    });
    created_ = ready.get();
  }
  ~ServerThread() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool created() const { return created_; }

 private:
  std::thread thread_;
  bool created_ = false;
};
