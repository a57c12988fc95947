// The page's pipe client methods against pipes served by the test itself.
#include "pipe/pipe_client_methods.h"

#include <gtest/gtest.h>

#include <future>

#include "support/pipe_server_thread.h"
#include "support/temp_runtime_dir.h"

namespace {

class PipeClientMethodsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTemporaryRuntimeDir();
    name_ = TestPipeName();
  }
  Text name_;
};

TEST_F(PipeClientMethodsTest, NameNeverConnectedFailsQuietly) {
  Text never = TestPipeName(".never");
  testing::internal::CaptureStdout();
  EXPECT_EQ(PipeClientRead(never), u"");
  EXPECT_FALSE(PipeClientWrite(never, u"x"));
  EXPECT_FALSE(PipeClientDisconnect(never));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(PipeClientConnect(never));  // nobody serves it
}

TEST_F(PipeClientMethodsTest, ExchangesTextsThenDisconnects) {
  Text received;
  ServerThread server(name_, [&] {
    ASSERT_TRUE(ServerPipeConnect(name_));
    ASSERT_TRUE(ServerPipeRead(name_, received));
    ASSERT_TRUE(ServerPipeWrite(name_, u"w\u00f6rld"));
    Text rest;
    EXPECT_FALSE(ServerPipeRead(name_, rest));  // the client hung up
  });
  ASSERT_TRUE(server.created());
  ASSERT_TRUE(PipeClientConnect(name_));
  EXPECT_TRUE(PipeClientWrite(name_, u"hello"));
  EXPECT_EQ(PipeClientRead(name_), u"w\u00f6rld");
  EXPECT_TRUE(PipeClientDisconnect(name_));
  server.Join();
  EXPECT_EQ(received, u"hello");
  // Closed now: a second disconnect, a read and a write all fail.
  EXPECT_FALSE(PipeClientDisconnect(name_));
  EXPECT_EQ(PipeClientRead(name_), u"");
  EXPECT_FALSE(PipeClientWrite(name_, u"x"));
}

TEST_F(PipeClientMethodsTest, SecondConnectReplacesTheFirstAndOneDisconnectClosesIt) {
  std::promise<void> first_connected;
  Text first_got = u"\xbdpoison", second_got;
  ServerThread first(name_, [&] {
    ASSERT_TRUE(ServerPipeConnect(name_));
    first_connected.set_value();
    EXPECT_FALSE(ServerPipeRead(name_, first_got));  // replaced: it only sees the hang-up
  });
  ASSERT_TRUE(PipeClientConnect(name_));
  first_connected.get_future().wait();
  ServerThread second(name_, [&] {
    ASSERT_TRUE(ServerPipeConnect(name_));
    EXPECT_TRUE(ServerPipeRead(name_, second_got));
  });
  ASSERT_TRUE(PipeClientConnect(name_));
  EXPECT_TRUE(PipeClientWrite(name_, u"to the second"));
  EXPECT_TRUE(PipeClientDisconnect(name_));
  EXPECT_FALSE(PipeClientDisconnect(name_));
  first.Join();
  second.Join();
  EXPECT_EQ(first_got, u"\xbdpoison");
  EXPECT_EQ(second_got, u"to the second");
}

}  // namespace
