#include "pipe/acc_request_server.h"

#include "pipe/acc_server_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "kernel_mode/acc_pipe.h"
#include "lsp/acc_query.h"
#include "pipe/pipe_message.h"
#include "platform/pipe_client.h"
#include "services/pairs.h"
#include "support/expect_rows.h"
#include "support/temp_runtime_dir.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(AccReplyTest, Requests) {
  PairStore store;
  FillStore(store);
  store.Store(u"acc.processes", u"foo.exe,bar.exe, spaced.exe,Ünï.exe,game");
  struct Row {
    const char16_t* request;
    std::optional<const char16_t*> reply;
  } rows[] = {
      {u"RequestAcc,1234,C:\\Games\\FOO.EXE", u"1,10.0.0.1,8080,tök=en/42"},
      {u"RequestAcc,1234,C:\\Games\\baz.exe", u"0,10.0.0.1,8080,tök=en/42"},
      {u"RequestAcc,1,/usr/games/bar.exe", u"1,10.0.0.1,8080,tök=en/42"},
      {u"RequestAcc,1,/usr/games/game", u"1,10.0.0.1,8080,tök=en/42"},
      {u"RequestAcc,1234,foo.exe", u"0,10.0.0.1,8080,tök=en/42"},      // bare name
      {u"RequestAcc,1234,C:\\Games\\", u"0,10.0.0.1,8080,tök=en/42"},  // ends with '\'
      {u"RequestAcc,1,C:\\x\\foo.exe,extra,more", u"1,10.0.0.1,8080,tök=en/42"},
      {u"RequestAcc,,C:\\x\\foo.exe", u"1,10.0.0.1,8080,tök=en/42"},       // field 1 unused
      {u"RequestAcc,1,C:\\x\\ spaced.exe", u"1,10.0.0.1,8080,tök=en/42"},  // blank kept
      {u"RequestAcc,1,C:\\x\\spaced.exe", u"0,10.0.0.1,8080,tök=en/42"},
      {u"RequestAcc,1,C:\\x\\ÜNï.EXE", u"1,10.0.0.1,8080,tök=en/42"},  // Ü, ï kept as is
      {u"RequestAcc,1,C:\\x\\ünï.exe", u"0,10.0.0.1,8080,tök=en/42"},  // only A-Z fold
      {u"RequestAcc,1", u"0,10.0.0.1,8080,tök=en/42"},                 // too few fields
      {u"RequestAcc", u"0,10.0.0.1,8080,tök=en/42"},
      {u"requestacc,1,C:\\x\\foo.exe", std::nullopt},
      {u"REQUESTACC,1,C:\\x\\foo.exe", std::nullopt},
      {u"", std::nullopt},
      {u",RequestAcc", std::nullopt},
      {u"hello", std::nullopt},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    std::optional<Text> reply = AnswerAccMessage(rows[i].request, store);
    ASSERT_EQ(reply.has_value(), rows[i].reply.has_value());
    if (reply) {
      EXPECT_EQ(*reply, *rows[i].reply);
    }
  }
}

TEST(AccReplyTest, EmptyStoreAnswersZeroAndThreeEmptyFields) {
  PairStore store;
  EXPECT_EQ(AnswerAccMessage(u"RequestAcc,1,C:\\x\\foo.exe", store), Text(u"0,,,"));
}

// Values go into the reply as stored, commas and all.
TEST(AccReplyTest, ValuesAreNotEscaped) {
  PairStore store;
  store.Store(u"acc.proxy_server", u"a,b");
  store.Store(u"acc.proxy_token", u"%s%d");
  EXPECT_EQ(AnswerAccMessage(u"RequestAcc,1,\\x", store), Text(u"0,a,b,,%s%d"));
}

TEST(AccReplyTest, FileNameFromPath) {
  const Row<const char16_t*, const char16_t*> rows[] = {
      {u"C:\\Games\\FOO.EXE", u"FOO.EXE"},
      {u"/usr/bin/foo", u"foo"},
      {u"foo.exe", u""},
      {u"C:\\Games\\", u""},
      {u"", u""},
      {u"\\x", u"x"},
      {u"C:\\a/b\\c.exe", u"c.exe"},
  };
  ExpectRows([](const char16_t* path) { return ProcessFileNameFromPath(path); }, rows);
}

TEST(AccReplyTest, IsAcceleratedProcessReadsTheProcessStore) {
  InsertPair(u"acc.processes", u"Alpha.exe");
  EXPECT_TRUE(IsAcceleratedProcess(u"ALPHA.EXE"));
  InsertPair(u"acc.processes", u"beta.exe");
  EXPECT_FALSE(IsAcceleratedProcess(u"ALPHA.EXE"));
  EXPECT_FALSE(IsAcceleratedProcess(u""));
}

TEST_F(AccServerTest, EachRequestSeesTheStoreAtThatMoment) {
  auto c = Connect();
  ASSERT_TRUE(c);
  ASSERT_TRUE(Send(*c, u"RequestAcc,1234,C:\\Games\\FOO.EXE"));
  EXPECT_EQ(Receive(*c), Text(u"1,10.0.0.1,8080,tök=en/42"));
  InsertPair(u"acc.proxy_port", u"9090");
  InsertPair(u"acc.processes", u"bar.exe");
  ASSERT_TRUE(Send(*c, u"RequestAcc,1234,C:\\Games\\FOO.EXE"));
  EXPECT_EQ(Receive(*c), Text(u"0,10.0.0.1,9090,tök=en/42"));
}

// The first reply is the request's: the messages before it got none.
TEST_F(AccServerTest, OtherMessagesGetNoReplyAndTheServerReadsOn) {
  auto c = Connect();
  ASSERT_TRUE(c);
  for (const char16_t* junk : {u"requestacc,1,C:\\x\\foo.exe", u"", u"hello,world", u","})
    ASSERT_TRUE(Send(*c, junk));
  ASSERT_TRUE(Send(*c, u"RequestAcc,1,C:\\x\\bar.exe"));
  EXPECT_EQ(Receive(*c), Text(u"1,10.0.0.1,8080,tök=en/42"));
  ASSERT_TRUE(Send(*c, u"hello"));
  ASSERT_TRUE(Send(*c, u"RequestAcc,1,C:\\x\\baz.exe"));
  EXPECT_EQ(Receive(*c), Text(u"0,10.0.0.1,8080,tök=en/42"));
}

// An oversize message fails the server's read, which ends that client; the next is served.
TEST_F(AccServerTest, OversizeMessageEndsTheClientAndServingGoesOn) {
  auto c = Connect();
  ASSERT_TRUE(c);
  ASSERT_TRUE(Send(*c, u"RequestAcc,1,C:\\x\\foo.exe," + Text(1100, u'p')));
  EXPECT_EQ(Receive(*c), std::nullopt);
  std::array<std::byte, 16> buffer;
  Result<PipeConnection::ReadResult> r = c->read(buffer);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().code, EPIPE);
  auto next = Connect();
  ASSERT_TRUE(next);
  ASSERT_TRUE(Send(*next, u"RequestAcc,1,C:\\x\\foo.exe"));
  EXPECT_EQ(Receive(*next), Text(u"1,10.0.0.1,8080,tök=en/42"));
}

// A stray odd byte becomes a last unit of its own; the request is still answered.
TEST_F(AccServerTest, OddByteCountIsAnswered) {
  auto c = Connect();
  ASSERT_TRUE(c);
  std::vector<std::byte> bytes = EncodePipeMessage(u"RequestAcc,1,C:\\x\\foo.exe");
  bytes.push_back(std::byte{'Z'});
  ASSERT_TRUE(c->write(bytes));
  EXPECT_EQ(Receive(*c), Text(u"0,10.0.0.1,8080,tök=en/42"));  // "foo.exeZ" is not listed
}

// Clients that vanish, before or after their request, do not stop the server.
TEST_F(AccServerTest, VanishingClientsDoNotStopTheServer) {
  for (int i = 0; i < 3; ++i) {
    auto c = Connect();
    ASSERT_TRUE(c);
    if (i != 1) {
      ASSERT_TRUE(Send(*c, u"RequestAcc,1,C:\\x\\foo.exe"));
    }
  }
  auto c = Connect();
  ASSERT_TRUE(c);
  ASSERT_TRUE(Send(*c, u"RequestAcc,1,C:\\x\\foo.exe"));
  EXPECT_EQ(Receive(*c), Text(u"1,10.0.0.1,8080,tök=en/42"));
}

TEST_F(AccServerTest, PrintsItsDiagnosticLines) {
  CaptureStdout();
  {
    auto c = Connect();
    ASSERT_TRUE(c);
    ASSERT_TRUE(Send(*c, u"RequestAcc,7,C:\\G\\foo.exe"));
    ASSERT_TRUE(Receive(*c));
    ASSERT_TRUE(Send(*c, u"junk"));
  }
  // The server has finished with the first client once it serves the next.
  auto next = Connect();
  ASSERT_TRUE(next);
  ASSERT_TRUE(Send(*next, u"RequestAcc,8,C:\\G\\x.exe"));
  ASSERT_TRUE(Receive(*next));
  std::string out = GetCapturedStdout();
  EXPECT_NE(out.find("client connected\n"
                     "read -> RequestAcc,7,C:\\G\\foo.exe\n"
                     "send Msg -> 1,10.0.0.1,8080,tök=en/42\n"
                     "read -> junk\n"
                     "读取数据失败！client disconnected\n"
                     "client connected\n"
                     "read -> RequestAcc,8,C:\\G\\x.exe\n"),
            std::string::npos)
      << out;
}

// A second server thread (a second main window) serves its own instance beside the first.
TEST_F(AccServerTest, TwoServerThreadsAnswerSideBySide) {
  ASSERT_TRUE(StartAccRequestServer(nullptr));
  std::unique_ptr<PipeConnection> a = Connect();
  ASSERT_TRUE(a);
  std::unique_ptr<PipeConnection> b = Connect();
  ASSERT_TRUE(b);
  ASSERT_TRUE(Send(*b, u"RequestAcc,2,C:\\x\\bar.exe"));
  ASSERT_TRUE(Send(*a, u"RequestAcc,1,C:\\x\\nope.exe"));
  EXPECT_EQ(Receive(*b), Text(u"1,10.0.0.1,8080,tök=en/42"));
  EXPECT_EQ(Receive(*a), Text(u"0,10.0.0.1,8080,tök=en/42"));
}

// Programs start in bursts. Asked exactly as the network-stack component asks (a connection per
// request, a refused pipe retried briefly, a missing one given up at once), every request of 1, 4
// or 16 programs asking at the same time is answered: the pipe never goes missing between two
// clients.
TEST_F(AccServerTest, BurstsOfProgramsAreAllAnswered) {
  ASSERT_TRUE(Connect());  // the server listens
  const std::vector<std::byte> bytes = EncodePipeMessage(u"RequestAcc,1,/usr/games/foo.exe");
  const std::span request(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const std::vector<std::byte> expected = EncodePipeMessage(u"1,10.0.0.1,8080,tök=en/42");
  for (int clients : {1, 4, 16}) {
    std::atomic<int> answered{0}, lost{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
      threads.emplace_back([&] {
        std::array<uint8_t, 4096> answer;
        for (int k = 0; k < 1600 / clients; ++k) {
          size_t size = 0;
          if (AskAccPipe(request, answer, size) != AskResult::kAnswered)
            ++lost;
          else if (size == expected.size() &&
                   std::memcmp(answer.data(), expected.data(), size) == 0)
            ++answered;
        }
      });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(lost, 0) << clients << " clients";
    EXPECT_EQ(answered, 1600) << clients << " clients";
  }
}

namespace {

// Whether the server ends `c` within a few seconds (replies still queued to it are read first).
bool EndedByServer(PipeConnection& c) {
  std::array<std::byte, 4096> buffer;
  for (;;) {
    Result<bool> ready = c.wait_readable(std::chrono::seconds(5));
    if (!ready || !*ready) return false;
    Result<PipeConnection::ReadResult> r = c.read(buffer);
    if (!r) return r.error().code == EPIPE;
  }
}

// The reply to `request` asked as the preloaded library asks, or nothing.
std::optional<Text> AskAsTheLibrary(TextView request) {
  const std::vector<std::byte> bytes = EncodePipeMessage(request);
  std::array<uint8_t, 4096> answer;
  size_t size = 0;
  if (AskAccPipe({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, answer, size) !=
      AskResult::kAnswered)
    return std::nullopt;
  return DecodePipeMessage(std::as_bytes(std::span(answer).first(size)));
}

// Connections that hold every instance of the pipe that is free now: one, unless an earlier test
// of this process started a second server thread.
std::vector<std::unique_ptr<PipeConnection>> HoldFreeInstances() {
  std::vector<std::unique_ptr<PipeConnection>> held;
  for (Result<std::unique_ptr<PipeConnection>> c = OpenPipe(AccPipeName); c;
       c = OpenPipe(AccPipeName))
    held.push_back(std::move(*c));
  return held;
}

}  // namespace

// The server serves one client at a time. A client that holds it without sending a whole request
// (silent, half a request, junk that keeps coming, a message too long for any request, requests
// whose replies it never takes) is ended, and a program that asks meanwhile, as the component
// does, gets its answer.
TEST_F(AccServerTest, ClientsThatSendNoWholeRequestDoNotKeepOthersFromTheirAnswer) {
  using Holder = void (*)(PipeConnection&);
  const std::pair<const char*, Holder> holders[] = {
      {"silent", [](PipeConnection&) {}},
      {"half a request", [](PipeConnection& c) { ASSERT_TRUE(Send(c, u"RequestAc")); }},
      {"junk that keeps coming",
       [](PipeConnection& c) {
         // Until the server hangs up; bounded, so that a server that never does fails the test.
         for (int i = 0; i < 500; ++i) {
           if (!c.write(EncodePipeMessage(u"RequestA"), std::chrono::seconds(5))) return;
           // Junk gets no reply: the connection turns readable only when the server hangs up.
           Result<bool> hung_up = c.wait_readable(std::chrono::milliseconds(10));
           if (!hung_up || *hung_up) return;
         }
       }},
      {"oversized",
       [](PipeConnection& c) {
         ASSERT_TRUE(c.write(EncodePipeMessage(u"RequestAcc,1," + Text(20000, u'x'))));
       }},
      {"replies never read",
       [](PipeConnection& c) {
         const std::vector<std::byte> request = EncodePipeMessage(u"RequestAcc,1,C:\\x\\foo.exe");
         for (int i = 0; i < 100000; ++i)
           if (!c.write(request, std::chrono::seconds(5))) return;
       }},
  };
  for (const auto& [what, hold] : holders) {
    SCOPED_TRACE(what);
    std::vector<std::unique_ptr<PipeConnection>> held;
    held.push_back(Connect());
    ASSERT_TRUE(held[0]);
    for (std::unique_ptr<PipeConnection>& more : HoldFreeInstances())
      held.push_back(std::move(more));
    std::vector<std::thread> holding;
    for (std::unique_ptr<PipeConnection>& c : held) holding.emplace_back(hold, std::ref(*c));
    EXPECT_EQ(AskAsTheLibrary(u"RequestAcc,9,C:\\Games\\bar.exe"),
              Text(u"1,10.0.0.1,8080,tök=en/42"));
    for (std::thread& t : holding) t.join();
    for (std::unique_ptr<PipeConnection>& c : held) EXPECT_TRUE(EndedByServer(*c));
  }
  auto c = Connect();
  ASSERT_TRUE(c);
  ASSERT_TRUE(Send(*c, u"RequestAcc,1,C:\\x\\foo.exe"));
  EXPECT_EQ(Receive(*c), Text(u"1,10.0.0.1,8080,tök=en/42"));
}

// The kernel-mode component asks a series of questions on one connection, doing other work
// between them; the server ends the connection once it has waited a while for the next question,
// and the component asks again on a new one.
TEST_F(AccServerTest, KernelComponentAsksAgainWhenItsIdleConnectionWasEnded) {
  if (::geteuid() != 0) GTEST_SKIP() << "the component connects as root, taking the user's id";
  ASSERT_TRUE(Connect());  // the server listens
  AccPipe pipe(::geteuid(), UseTemporaryRuntimeDir().string());
  ASSERT_TRUE(pipe.Open());
  AccReply reply;
  ASSERT_EQ(pipe.Ask(1, "C:\\Games\\foo.exe", reply), AccPipe::Answer::kAccelerate);
  if (!HoldFreeInstances().empty())
    GTEST_SKIP() << "a second server thread of an earlier test serves the pipe too";
  // Another client is served only once the component's connection is over.
  ASSERT_TRUE(Connect());
  ASSERT_EQ(pipe.Ask(2, "C:\\Games\\bar.exe", reply), AccPipe::Answer::kAccelerate);
  EXPECT_EQ(reply.port, 8080);
  EXPECT_EQ(pipe.Ask(3, "C:\\Games\\baz.exe", reply), AccPipe::Answer::kLeave);
}
