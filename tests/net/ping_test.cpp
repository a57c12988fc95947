#include "net/ping_task.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <regex>
#include <string>

#include "support/icmp_test_support.h"
#include "support/private_network.h"

namespace {

// Echo requests whose answers a test scripts: each call takes the next reply.
class ScriptedEcho {
 public:
  explicit ScriptedEcho(std::vector<IcmpEchoReply> replies) : replies_(std::move(replies)) {}
  CBasePing::EchoSender Sender() {
    return [this](uint32_t address, std::span<const uint8_t> data, uint32_t timeout) {
      sent_.push_back({address, std::vector<uint8_t>(data.begin(), data.end()), timeout});
      return replies_.at(sent_.size() - 1);
    };
  }
  struct Request {
    uint32_t address;
    std::vector<uint8_t> data;
    uint32_t timeout;
  };
  const std::vector<Request>& sent() const { return sent_; }

 private:
  std::vector<IcmpEchoReply> replies_;
  std::vector<Request> sent_;
};

struct Delivered {
  int calls = 0;
  int32_t first = 0, second = 0;
};

std::unique_ptr<PingTask> MakeTask(const Text& host, int32_t count, int32_t timeout,
                                   CBasePing::EchoSender sender, Delivered& out) {
  auto task = std::make_unique<PingTask>();
  task->host = host;
  task->count = count;
  task->timeout = timeout;
  task->probe = std::make_unique<CBasePing>(std::move(sender));
  task->deliver = [&out](int32_t first, int32_t second) {
    ++out.calls;
    out.first = first;
    out.second = second;
  };
  return task;
}

TEST(PingSeriesTest, AverageAndQuenchRules) {
  const IcmpEchoReply ok10{kIcmpSuccess, 10}, ok20{kIcmpSuccess, 20}, quench{kIcmpSourceQuench, 0},
      late{kIcmpTimedOut, 0}, unreachable{kIcmpDestHostUnreachable, 0},
      denied{kIcmpAccessDenied, 0};
  struct Row {
    std::vector<IcmpEchoReply> replies;
    int32_t first, second;
  } rows[] = {
      {{ok10, ok20, quench}, 10, 1},                          // quench replies stay in the divisor
      {{ok10, ok20, late}, 15, 0},                            // failures do not
      {{ok10, unreachable, ok20, {kIcmpSuccess, 5}}, 11, 0},  // 35 / 3 truncated
      {{late, late}, 0, 0},
      {{quench, quench}, 0, 2},
      {{}, 0, 0},
      // Nothing could be sent: told apart from an answer in under a millisecond.
      {{denied, denied, denied}, kPingNotPermitted, 0},
      // Some could: an ordinary series in which the others failed.
      {{denied, ok10, denied}, 10, 0},
      {{denied, late}, 0, 0},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    ScriptedEcho echo(rows[i].replies);
    Delivered out;
    auto count = static_cast<int32_t>(rows[i].replies.size());
    EXPECT_EQ(RunPingTask(MakeTask(u"127.0.0.1", count, 300, echo.Sender(), out)), 0);
    EXPECT_EQ(out.calls, 1);
    EXPECT_EQ(out.first, rows[i].first);
    EXPECT_EQ(out.second, rows[i].second);
    EXPECT_EQ(echo.sent().size(), rows[i].replies.size());
  }
}

TEST(PingSeriesTest, EachRequestCarries33BytesOfEchoDataToTheResolvedAddress) {
  ScriptedEcho echo({{kIcmpSuccess, 1}, {kIcmpSuccess, 1}});
  Delivered out;
  ASSERT_EQ(RunPingTask(MakeTask(u"10.1.2.3", 2, 250, echo.Sender(), out)), 0);
  std::vector<uint8_t> expected;
  for (int i = 0; i < 33; ++i) expected.push_back(i % 2 == 0 ? 0x41 : 0x00);
  ASSERT_EQ(echo.sent().size(), 2u);
  for (const ScriptedEcho::Request& request : echo.sent()) {
    EXPECT_EQ(request.address, inet_addr("10.1.2.3"));
    EXPECT_EQ(request.data, expected);
    EXPECT_EQ(request.timeout, 250u);
  }
}

TEST(PingSeriesTest, ZeroOrNegativeCountSendsNothingAndPrintsTheSummary) {
  for (int32_t count : {0, -5}) {
    SCOPED_TRACE(count);
    ScriptedEcho echo({});
    Delivered out;
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunPingTask(MakeTask(u"127.0.0.1", count, 100, echo.Sender(), out)), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "need varg time : 0, \n test times : 0, timeout: 0, less: 0\n");
    EXPECT_TRUE(echo.sent().empty());
    EXPECT_EQ(out.calls, 1);
    EXPECT_EQ(out.first, 0);
    EXPECT_EQ(out.second, 0);
  }
}

TEST(PingSeriesTest, UnresolvableHostDeliversMinusOneAndSendsNothing) {
  for (const Text& host : {Text(u"http://127.0.0.1"), Text(u"255.255.255.255"), Text(u"")}) {
    SCOPED_TRACE(ToUtf8(host));
    ScriptedEcho echo({});
    Delivered out;
    auto task = MakeTask(host, 3, 100, echo.Sender(), out);
    task->probe = std::make_unique<CBasePing>(
        echo.Sender(), [](const std::string&) -> std::optional<uint32_t> { return std::nullopt; });
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunPingTask(std::move(task)), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(out.calls, 1);
    EXPECT_EQ(out.first, -1);
    EXPECT_EQ(out.second, 0);
    EXPECT_TRUE(echo.sent().empty());
  }
}

// Which texts are parsed and which are looked up, and with what name.
TEST(PingResolveTest, DottedAddressesAreParsedEverythingElseIsLookedUpWhole) {
  std::vector<std::string> asked;
  std::map<std::string, uint32_t> names = {{"www.example.test", inet_addr("10.0.0.1")},
                                           {"example.test", inet_addr("10.0.0.2")}};
  CBasePing ping(nullptr, [&](const std::string& name) -> std::optional<uint32_t> {
    asked.push_back(name);
    auto it = names.find(name);
    return it == names.end() ? std::nullopt : std::optional<uint32_t>(it->second);
  });
  struct Row {
    Text host;
    int32_t result;
    uint32_t address;  // the address field afterwards
    std::vector<std::string> asked;
  } rows[] = {
      {u"192.0.2.7", 0, inet_addr("192.0.2.7"), {}},
      {u"www.example.test", 0, inet_addr("10.0.0.1"), {"www.example.test"}},
      {u"example.test", 0, inet_addr("10.0.0.2"), {"example.test"}},
      {u"http://www.example.test/", -1, inet_addr("10.0.0.2"), {"http://www.example.test/"}},
      {u"missing.test", -1, inet_addr("10.0.0.2"), {"missing.test"}},
      {u"255.255.255.255", -1, INADDR_NONE, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(ToUtf8(row.host));
    asked.clear();
    EXPECT_EQ(ping.Resolve(row.host), row.result);
    EXPECT_EQ(ping.GetAddress(), row.address);
    EXPECT_EQ(asked, row.asked);
  }
}

TEST(PingResolveTest, LocalhostResolvesThroughTheSystem) {
  CBasePing ping;
  ASSERT_EQ(ping.Resolve(u"localhost"), 0);
  EXPECT_EQ(ping.GetAddress(), kLoopbackAddress);
}

class LoopbackPingTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string reason = EchoSocketUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
  }
  // Runs Ping on its worker and waits for the one result.
  static std::pair<int32_t, int32_t> PingAndWait(std::unique_ptr<PingTask> task) {
    auto result = std::make_shared<std::promise<std::pair<int32_t, int32_t>>>();
    std::future<std::pair<int32_t, int32_t>> future = result->get_future();
    task->deliver = [result](int32_t first, int32_t second) { result->set_value({first, second}); };
    StartPingTask(std::move(task));
    EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    return future.get();
  }
};

TEST_F(LoopbackPingTest, UnansweredProbesCountAsFailures) {
  Delivered unused;
  auto task = MakeTask(u"127.0.0.1", 3, 100, EchoIntoTheVoid, unused);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PingAndWait(std::move(task)), std::make_pair(0, 0));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

// What goes out on the wire: each probe is one echo request of exactly 33 data bytes, 0x41 and
// 0x00 alternating, ending with 0x41. Watched from a raw socket in a private network namespace,
// where no other program's echo requests can mix in.
TEST_F(LoopbackPingTest, RequestsCarryExactly33BytesOnTheWire) {
  std::optional<int> outcome = RunInPrivateNetwork([] {
    UniqueFd observer(socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMP));
    if (!observer) return 77;
    auto task = std::make_unique<PingTask>();
    task->host = u"127.0.0.1";
    task->count = 2;
    task->timeout = 1000;
    task->probe = std::make_unique<CBasePing>();
    int32_t average = -2;
    task->deliver = [&average](int32_t first, int32_t) { average = first; };
    if (RunPingTask(std::move(task)) != 0 || average < 0) return 1;

    std::vector<uint8_t> expected;
    for (int i = 0; i < 33; ++i) expected.push_back(i % 2 == 0 ? 0x41 : 0x00);
    int requests = 0;
    uint8_t packet[2048];
    for (ssize_t got; (got = recv(observer.get(), packet, sizeof packet, 0)) > 0;) {
      size_t header = (packet[0] & 0x0F) * 4u;
      if (packet[header] != 8) continue;  // answers
      std::vector<uint8_t> data(packet + header + 8, packet + got);
      if (data != expected) return 2;
      ++requests;
    }
    return requests == 2 ? 0 : 3;
  });
  if (!outcome) GTEST_SKIP() << "a private network namespace cannot be created here";
  if (*outcome == 77) GTEST_SKIP() << "raw ICMP sockets are not allowed here";
  EXPECT_EQ(*outcome, 0);
}

// Our average agrees with the system's ping to the same address within a millisecond.
TEST_F(LoopbackPingTest, AverageAgreesWithTheSystemPing) {
  FILE* pipe = popen("ping -n -q -c 5 -i 0.2 -W 1 127.0.0.1 2>&1", "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
  int status = pclose(pipe);
  std::smatch match;
  if (status != 0 || !std::regex_search(output, match, std::regex(R"(= [0-9.]+/([0-9.]+)/)")))
    GTEST_SKIP() << "the system's ping (iputils-ping) did not run here: " << output;
  double system_average = std::stod(match[1]);

  auto task = std::make_unique<PingTask>();
  task->host = u"127.0.0.1";
  task->count = 5;
  task->timeout = 1000;
  task->probe = std::make_unique<CBasePing>();
  auto [average, quench] = PingAndWait(std::move(task));
  EXPECT_EQ(quench, 0);
  EXPECT_GE(average, 0);
  EXPECT_NEAR(average, system_average, 1.0) << output;
}

}  // namespace
