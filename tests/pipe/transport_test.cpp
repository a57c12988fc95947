// The pipe transport over real sockets: a server thread uses the ServerPipe* operations, the test
// thread the ClientPipe* ones.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <set>
#include <thread>

#include "pipe/client_pipe.h"
#include "pipe/pipe_message.h"
#include "pipe/server_pipe.h"
#include "support/pipe_server_thread.h"
#include "support/temp_runtime_dir.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTemporaryRuntimeDir();
    name_ = TestPipeName();
  }
  Text name_;
};

}  // namespace

TEST(PipeMessageTest, EncodesUtf16LittleEndianWithoutTerminator) {
  std::vector<std::byte> bytes = EncodePipeMessage(u"A\u00e9\u4e2d");
  std::vector<std::byte> expected = {std::byte{0x41}, std::byte{0},    std::byte{0xe9},
                                     std::byte{0},    std::byte{0x2d}, std::byte{0x4e}};
  EXPECT_EQ(bytes, expected);
  EXPECT_TRUE(EncodePipeMessage(u"").empty());
}

TEST(PipeMessageTest, DecodeStopsAtNulAndKeepsAnOddLastByte) {
  auto bytes = [](std::initializer_list<int> b) {
    std::vector<std::byte> v;
    for (int x : b) v.push_back(static_cast<std::byte>(x));
    return v;
  };
  EXPECT_EQ(DecodePipeMessage(bytes({'a', 0, 'b', 0, 0, 0, 'c', 0})), u"ab");
  EXPECT_EQ(DecodePipeMessage(bytes({'a', 0, 'b'})), u"ab");
  EXPECT_EQ(DecodePipeMessage(bytes({'a', 0, 0})), u"a");
  EXPECT_EQ(DecodePipeMessage(bytes({0x3d, 0xd8, 0x00, 0xde})), u"\U0001F600");
  EXPECT_EQ(DecodePipeMessage({}), u"");
}

TEST_F(TransportTest, MessagesKeepTheirBoundariesBothWays) {
  std::vector<std::pair<bool, Text>> seen;
  ServerThread server(name_, [&] {
    ASSERT_TRUE(ServerPipeConnect(name_));
    for (int i = 0; i < 3; ++i) {
      Text out = u"poison";
      bool ok = ServerPipeRead(name_, out);
      seen.emplace_back(ok, out);
    }
    EXPECT_TRUE(ServerPipeWrite(name_, u"réponse 𝄞"));
    EXPECT_TRUE(ServerPipeWrite(name_, u""));
  });
  ASSERT_TRUE(server.created());
  ASSERT_TRUE(ClientPipeOpen(name_));
  EXPECT_TRUE(ClientPipeWrite(name_, u"hello"));
  EXPECT_TRUE(ClientPipeWrite(name_, u""));                 // an empty message
  EXPECT_TRUE(ClientPipeWrite(name_, Text(u"ab\0cd", 5)));  // cut at the NUL
  Text reply;
  ASSERT_TRUE(ClientPipeRead(name_, reply));
  EXPECT_EQ(reply, u"réponse 𝄞");
  ASSERT_TRUE(ClientPipeRead(name_, reply));
  EXPECT_EQ(reply, u"");
  server.Join();
  std::vector<std::pair<bool, Text>> expected = {{true, u"hello"}, {true, u""}, {true, u"ab"}};
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(ClientPipeClose(name_));
}

// A 2050-byte message: the first read fails and leaves the output alone; the next read returns
// the last two bytes as one unit.
TEST_F(TransportTest, OversizeMessageFailsThenYieldsItsLastUnit) {
  bool first_ok = true, second_ok = false;
  Text first = u"poison", second;
  CaptureStdout();
  ServerThread server(name_, [&] {
    ASSERT_TRUE(ServerPipeConnect(name_));
    first_ok = ServerPipeRead(name_, first);
    second_ok = ServerPipeRead(name_, second);
  });
  ASSERT_TRUE(ClientPipeOpen(name_));
  EXPECT_TRUE(ClientPipeWrite(name_, Text(1024, u'x') + u"y"));
  server.Join();
  EXPECT_EQ(GetCapturedStdout(), "读取数据失败！");
  EXPECT_FALSE(first_ok);
  EXPECT_EQ(first, u"poison");
  EXPECT_TRUE(second_ok);
  EXPECT_EQ(second, u"y");
  EXPECT_TRUE(ClientPipeClose(name_));
}

// Names are folded to lower case on the way to the socket, but the tables compare exactly: two
// spellings are two entries that reach one pipe, and its one instance is then busy.
TEST_F(TransportTest, CaseFoldedNamesReachOnePipeAsSeparateEntries) {
  Text lower = name_;
  for (char16_t& c : lower)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  ASSERT_NE(lower, name_);
  Text got;
  ServerThread server(name_, [&] {
    ASSERT_TRUE(ServerPipeConnect(name_));
    EXPECT_TRUE(ServerPipeRead(name_, got));
  });
  ASSERT_TRUE(ClientPipeOpen(lower));
  CaptureStdout();
  EXPECT_FALSE(ClientPipeOpen(name_));  // the only instance is busy: refused at once
  EXPECT_EQ(GetCapturedStdout(), "打开命名管道失败！");
  CaptureStdout();
  EXPECT_FALSE(ClientPipeWrite(name_, u"x"));  // nothing was recorded under that spelling
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_TRUE(ClientPipeWrite(lower, u"via lower case"));
  server.Join();
  EXPECT_EQ(got, u"via lower case");
  EXPECT_TRUE(ClientPipeClose(lower));
}

TEST_F(TransportTest, OperationsAfterCloseFailOnTheClosedHandle) {
  ServerThread server(name_, [&] {
    ASSERT_TRUE(ServerPipeConnect(name_));
    Text out;
    EXPECT_FALSE(ServerPipeRead(name_, out));  // the client's close
    EXPECT_TRUE(ServerPipeDisconnect(name_));
  });
  ASSERT_TRUE(ClientPipeOpen(name_));
  ASSERT_TRUE(ClientPipeClose(name_));
  server.Join();
  CaptureStdout();
  EXPECT_FALSE(ClientPipeWrite(name_, u"late"));
  EXPECT_EQ(GetCapturedStdout(), "写入数据失败！\n");
  Text out = u"poison";
  CaptureStdout();
  EXPECT_FALSE(ClientPipeRead(name_, out));
  EXPECT_EQ(GetCapturedStdout(), "读取数据失败！");
  EXPECT_EQ(out, u"poison");
  EXPECT_FALSE(ClientPipeClose(name_));  // already closed
}

TEST_F(TransportTest, UnknownNamesFailSilently) {
  Text name = name_ + u"-never";
  Text out = u"poison";
  CaptureStdout();
  EXPECT_FALSE(ServerPipeConnect(name));
  EXPECT_FALSE(ServerPipeRead(name, out));
  EXPECT_FALSE(ServerPipeWrite(name, u"x"));
  EXPECT_FALSE(ServerPipeDisconnect(name));
  EXPECT_FALSE(ClientPipeRead(name, out));
  EXPECT_FALSE(ClientPipeWrite(name, u"x"));
  EXPECT_FALSE(ClientPipeClose(name));
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(out, u"poison");
}

TEST_F(TransportTest, FailedCreateAndOpenPrintAndRecordNothing) {
  CaptureStdout();
  EXPECT_FALSE(ServerPipeCreate(u"not a pipe name"));
  EXPECT_FALSE(ServerPipeConnect(u"not a pipe name"));
  EXPECT_FALSE(ClientPipeOpen(name_ + u"-unserved"));
  EXPECT_FALSE(ClientPipeClose(name_ + u"-unserved"));
  EXPECT_EQ(GetCapturedStdout(), "创建命名管道失败！打开命名管道失败！");
}

// Without a client, a server write fails with its line (no line break) and a disconnect fails.
TEST_F(TransportTest, ServerInstanceWithoutClient) {
  std::string printed;
  bool wrote = true, disconnected = true;
  ServerThread server(name_, [&] {
    CaptureStdout();
    wrote = ServerPipeWrite(name_, u"x");
    disconnected = ServerPipeDisconnect(name_);
    printed = GetCapturedStdout();
  });
  server.Join();
  EXPECT_FALSE(wrote);
  EXPECT_FALSE(disconnected);
  EXPECT_EQ(printed, "写入数据失败！");
}

// Opening a listed name again replaces its connection and closes the previous one; two server
// threads each serve their own instance of the name.
TEST_F(TransportTest, ReopenReplacesAndClosesThePreviousConnection) {
  std::promise<std::pair<bool, Text>> a_result, b_result;
  auto serve = [&](std::promise<std::pair<bool, Text>>& result) {
    return [&] {
      ASSERT_TRUE(ServerPipeConnect(name_));
      Text out;
      bool ok = ServerPipeRead(name_, out);
      result.set_value({ok, out});
    };
  };
  ServerThread a(name_, serve(a_result));
  ServerThread b(name_, serve(b_result));
  ASSERT_TRUE(ClientPipeOpen(name_));
  ASSERT_TRUE(ClientPipeOpen(name_));
  EXPECT_TRUE(ClientPipeWrite(name_, u"second"));
  std::pair<bool, Text> ra = a_result.get_future().get();
  std::pair<bool, Text> rb = b_result.get_future().get();
  // One instance served the first connection, which was closed; the other got the message.
  std::set<std::pair<bool, Text>> seen = {ra, rb};
  std::set<std::pair<bool, Text>> expected = {{false, u""}, {true, u"second"}};
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(ClientPipeClose(name_));
}
