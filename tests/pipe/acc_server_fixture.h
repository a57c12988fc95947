// Runs the acceleration request server thread once per test process, on a temporary runtime
// directory, and talks to it as the network-stack component would.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "pipe/acc_request_server.h"
#include "pipe/pipe_message.h"
#include "platform/pipe_client.h"
#include "services/pairs.h"
#include "support/temp_runtime_dir.h"

inline void FillStore(PairStore& store) {
  store.Store(u"acc.processes", u"foo.exe,bar.exe");
  store.Store(u"acc.proxy_server", u"10.0.0.1");
  store.Store(u"acc.proxy_port", u"8080");
  store.Store(u"acc.proxy_token", u"tök=en/42");
}

// The server thread itself, over the real pipe; one per test process.
class AccServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static std::once_flag once;
    std::call_once(once, [] {
      UseTemporaryRuntimeDir();
      ASSERT_TRUE(StartAccRequestServer(nullptr));
    });
  }
  void SetUp() override { FillStore(ProcessPairStore()); }

  // Connects, waiting while the server is between clients.
  static std::unique_ptr<PipeConnection> Connect() {
    for (int i = 0; i < 5000; ++i) {
      Result<std::unique_ptr<PipeConnection>> c = OpenPipe(AccPipeName);
      if (c) return std::move(*c);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ADD_FAILURE() << "the acceleration pipe never accepted a client";
    return nullptr;
  }
  static bool Send(PipeConnection& c, TextView text) {
    return static_cast<bool>(c.write(EncodePipeMessage(text)));
  }
  // The next reply, or nothing when none comes within `wait` or the server hung up.
  static std::optional<Text> Receive(PipeConnection& c,
                                     std::chrono::milliseconds wait = std::chrono::seconds(5)) {
    Result<bool> ready = c.wait_readable(wait);
    if (!ready || !*ready) return std::nullopt;
    std::array<std::byte, 4096> buffer;
    Result<PipeConnection::ReadResult> r = c.read(buffer);
    if (!r || !r->complete) return std::nullopt;
    return DecodePipeMessage(std::span(buffer).first(r->size));
  }
};
