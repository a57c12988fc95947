#include "platform/icmp_echo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/icmp_test_support.h"

namespace {

class IcmpEchoTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string reason = EchoSocketUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
  }
  const std::vector<uint8_t> data_ = std::vector<uint8_t>(33, 0x41);
};

TEST_F(IcmpEchoTest, LoopbackAnswersQuickly) {
  IcmpEchoReply reply = SendIcmpEcho(kLoopbackAddress, data_, 1000);
  EXPECT_EQ(reply.status, kIcmpSuccess);
  EXPECT_LT(reply.round_trip_ms, 1000u);
}

// Pinned: a request that is not answered within the time-out ends with 11010 after that
// time-out, not before it and not much later.
TEST_F(IcmpEchoTest, UnansweredRequestTimesOutAfterItsTimeout) {
  auto start = std::chrono::steady_clock::now();
  IcmpEchoReply reply = EchoIntoTheVoid(kLoopbackAddress, data_, 150);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(reply.status, kIcmpTimedOut);
  EXPECT_EQ(reply.round_trip_ms, 0u);
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
}

// Raw sockets see every ICMP packet on the host: each prober must still take only its own
// answers, also while others probe the same target at the same time.
TEST_F(IcmpEchoTest, ConcurrentProbesEachGetTheirOwnAnswer) {
  std::vector<int> answered(4, 0);
  std::vector<std::thread> probers;
  for (int& count : answered) {
    probers.emplace_back([&count, this] {
      for (int i = 0; i < 25; ++i) {
        Result<IcmpEchoSocket> socket = IcmpEchoSocket::Open();
        if (socket && socket->Echo(kLoopbackAddress, data_, 1000).status == kIcmpSuccess) ++count;
      }
    });
  }
  for (std::thread& t : probers) t.join();
  for (int count : answered) EXPECT_EQ(count, 25);
}

TEST_F(IcmpEchoTest, SendFailureIsReportedWithoutWaiting) {
  // The limited broadcast address needs SO_BROADCAST, which the echo socket does not set.
  auto start = std::chrono::steady_clock::now();
  IcmpEchoReply reply = SendIcmpEcho(INADDR_BROADCAST, data_, 2000);
  EXPECT_NE(reply.status, kIcmpSuccess);
  EXPECT_NE(reply.status, kIcmpTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

}  // namespace
