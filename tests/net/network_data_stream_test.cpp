#include "net/network_data_stream.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/temp_home.h"

namespace {

// The kernel's byte counters of one interface as /proc/net/dev shows them (low 32 bits).
InterfaceByteCounters ProcNetDevCounters(const std::string& name) {
  std::ifstream in("/proc/net/dev");
  std::string line;
  while (std::getline(in, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string interface = line.substr(0, colon);
    interface.erase(0, interface.find_first_not_of(' '));
    if (interface != name) continue;
    std::istringstream fields(line.substr(colon + 1));
    uint64_t value, received = 0, sent = 0;
    for (int i = 0; i < 9 && fields >> value; ++i) {
      if (i == 0) received = value;
      if (i == 8) sent = value;
    }
    return {static_cast<uint32_t>(received), static_cast<uint32_t>(sent)};
  }
  ADD_FAILURE() << name << " is not in /proc/net/dev";
  return {};
}

class NetworkDataStreamTest : public testing::Test {
 protected:
  void WriteCounters(const std::string& name, const std::string& rx, const std::string& tx) {
    std::filesystem::path statistics = std::filesystem::path(home_.root()) / name / "statistics";
    std::filesystem::create_directories(statistics);
    TempHome::WriteAll(statistics / "rx_bytes", rx);
    TempHome::WriteAll(statistics / "tx_bytes", tx);
  }
  // A stream over the fake sysfs tree whose adapter list is whatever `adapters_` holds.
  CNetWorkDataStream MakeStream() {
    return CNetWorkDataStream(home_.root(), [this] { return adapters_; });
  }

  TempHome home_;
  Result<std::vector<NetworkAdapter>> adapters_ = std::vector<NetworkAdapter>{};
};

TEST_F(NetworkDataStreamTest, TotalsAreZeroBeforeTheFirstRead) {
  CNetWorkDataStream stream = MakeStream();
  EXPECT_EQ(stream.GetCurrDownloadTotal(), 0);
  EXPECT_EQ(stream.GetCurrUploadTotal(), 0);
}

TEST_F(NetworkDataStreamTest, LastReadableAdapterWins) {
  WriteCounters("eth0", "100\n", "200\n");
  WriteCounters("eth1", "300\n", "400\n");
  CNetWorkDataStream stream = MakeStream();

  adapters_ = std::vector<NetworkAdapter>{{2, "eth0"}, {3, "eth1"}};
  ASSERT_TRUE(stream.GetNetworkInfo());
  EXPECT_EQ(stream.GetCurrDownloadTotal(), 300);
  EXPECT_EQ(stream.GetCurrUploadTotal(), 400);

  // An adapter whose counters cannot be read is skipped, not taken as zero.
  adapters_ = std::vector<NetworkAdapter>{{2, "eth0"}, {4, "gone"}};
  ASSERT_TRUE(stream.GetNetworkInfo());
  EXPECT_EQ(stream.GetCurrDownloadTotal(), 100);
  EXPECT_EQ(stream.GetCurrUploadTotal(), 200);
}

TEST_F(NetworkDataStreamTest, FailedOrEmptyReadsKeepThePreviousTotals) {
  WriteCounters("eth0", "100\n", "200\n");
  CNetWorkDataStream stream = MakeStream();
  adapters_ = std::vector<NetworkAdapter>{{2, "eth0"}};
  ASSERT_TRUE(stream.GetNetworkInfo());

  adapters_ = std::vector<NetworkAdapter>{};
  EXPECT_FALSE(stream.GetNetworkInfo());
  adapters_ = Error{EMFILE, "getifaddrs"};
  EXPECT_FALSE(stream.GetNetworkInfo());
  adapters_ = std::vector<NetworkAdapter>{{5, "unreadable"}};
  EXPECT_TRUE(stream.GetNetworkInfo());  // the list was read; no row was

  EXPECT_EQ(stream.GetCurrDownloadTotal(), 100);
  EXPECT_EQ(stream.GetCurrUploadTotal(), 200);
}

TEST_F(NetworkDataStreamTest, CountersFrom2To31BytesReachTheCallerNegative) {
  WriteCounters("eth0", "3000000000\n", "2147483648\n");
  CNetWorkDataStream stream = MakeStream();
  adapters_ = std::vector<NetworkAdapter>{{2, "eth0"}};
  ASSERT_TRUE(stream.GetNetworkInfo());
  EXPECT_EQ(stream.GetCurrDownloadTotal(), -1294967296);
  EXPECT_EQ(stream.GetCurrUploadTotal(), INT32_MIN);
}

// The totals of the real system are the kernel's counters of the last adapter in the list, read
// between two readings of our own.
TEST(NetworkDataStreamSystemTest, TotalsAreTheKernelCountersOfTheLastAdapter) {
  Result<std::vector<NetworkAdapter>> adapters = ListIpv4Adapters();
  ASSERT_TRUE(adapters);
  if (adapters->empty()) GTEST_SKIP() << "this machine has no IPv4 adapter besides loopback";
  InterfaceByteCounters before = ProcNetDevCounters(adapters->back().name);

  CNetWorkDataStream stream;
  ASSERT_TRUE(stream.GetNetworkInfo());
  auto received = static_cast<uint32_t>(stream.GetCurrDownloadTotal());
  auto sent = static_cast<uint32_t>(stream.GetCurrUploadTotal());

  InterfaceByteCounters after = ProcNetDevCounters(adapters->back().name);
  // Differences in 32-bit arithmetic, so a counter that wraps in between still compares.
  EXPECT_LE(received - before.received, after.received - before.received);
  EXPECT_LE(sent - before.sent, after.sent - before.sent);
}

}  // namespace
