#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/icmp_echo.h"
#include "platform/icmp_helper_protocol.h"
#include "support/bin_directory.h"
#include "support/icmp_test_support.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::optional<IcmpHelperRequest> Parse(std::vector<std::string_view> arguments) {
  return ParseIcmpHelperArguments(arguments);
}

TEST(IcmpHelperProtocolTest, ArgumentsRoundTrip) {
  std::vector<uint8_t> data = {0x41, 0x00, 0xff, 0x7e};
  std::vector<std::string> arguments = IcmpHelperArguments(inet_addr("192.0.2.10"), data, 1500);
  EXPECT_EQ(arguments, (std::vector<std::string>{"192.0.2.10", "1500", "4100ff7e"}));
  std::vector<std::string_view> views(arguments.begin(), arguments.end());
  std::optional<IcmpHelperRequest> request = ParseIcmpHelperArguments(views);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->address, inet_addr("192.0.2.10"));
  EXPECT_EQ(request->data, data);
  EXPECT_EQ(request->timeout_ms, 1500u);

  EXPECT_EQ(IcmpHelperArguments(inet_addr("127.0.0.1"), {}, 0)[2], "-");
  std::optional<IcmpHelperRequest> empty = Parse({"127.0.0.1", "0", "-"});
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->data.empty());
}

// Anyone may run the helper with its capability: anything but the exact form is refused.
TEST(IcmpHelperProtocolTest, RefusesEverythingButTheExactForm) {
  const std::string too_long(2 * (kIcmpHelperMaxData + 1), 'a');
  const std::vector<std::vector<std::string_view>> rows = {
      {},
      {"127.0.0.1", "100"},
      {"127.0.0.1", "100", "41", "extra"},
      {"127.1", "100", "41"},  // inet_aton's short forms
      {"0x7f.0.0.1", "100", "41"},
      {"127.0.0.01", "100", "41"},
      {"256.0.0.1", "100", "41"},
      {" 127.0.0.1", "100", "41"},
      {"::1", "100", "41"},
      {"127.0.0.1", "-1", "41"},
      {"127.0.0.1", "+5", "41"},
      {"127.0.0.1", "0100", "41"},
      {"127.0.0.1", "60001", "41"},
      {"127.0.0.1", "99999999999", "41"},
      {"127.0.0.1", "", "41"},
      {"127.0.0.1", "100", ""},
      {"127.0.0.1", "100", "4"},
      {"127.0.0.1", "100", "4G"},
      {"127.0.0.1", "100", "AB"},
      {"127.0.0.1", "100", too_long},
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(Parse(rows[i]));
  }
  EXPECT_TRUE(Parse({"127.0.0.1", "60000", std::string(2 * kIcmpHelperMaxData, 'a')}));
}

TEST(IcmpHelperProtocolTest, ReplyLine) {
  EXPECT_EQ(FormatIcmpHelperReply({kIcmpTimedOut, 0}), "11010 0\n");
  std::optional<IcmpEchoReply> reply = ParseIcmpHelperReply("0 17\n");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, kIcmpSuccess);
  EXPECT_EQ(reply->round_trip_ms, 17u);
  for (std::string_view bad : {"", "0 17", "0 17\n\n", "0\n", "0  17\n", "x 1\n", "0 1 2\n"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseIcmpHelperReply(bad));
  }
}

class IcmpHelperTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = testing_support::MakeTempDir("morvil-icmp-helper"); }
  void TearDown() override { fs::remove_all(dir_); }

  // A stand-in helper: a shell script with `body`.
  fs::path Script(const std::string& body) {
    fs::path path = dir_ / "helper";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  const std::vector<uint8_t> data_ = std::vector<uint8_t>(33, 0x41);
  fs::path dir_;
};

TEST_F(IcmpHelperTest, TheRealHelperAnswersForLoopback) {
  std::string reason = EchoSocketUnavailableReason();
  if (!reason.empty()) GTEST_SKIP() << reason;
  IcmpEchoReply reply =
      EchoThroughHelper(BinDirectory() / kIcmpEchoHelperName, kLoopbackAddress, data_, 1000);
  EXPECT_EQ(reply.status, kIcmpSuccess);
  EXPECT_LT(reply.round_trip_ms, 1000u);
}

// The helper gets exactly the agreed arguments and no environment, and its line is the answer.
TEST_F(IcmpHelperTest, PassesTheRequestAndReadsTheLine) {
  fs::path seen = dir_ / "seen";
  fs::path helper =
      Script("echo \"$# $1 $2 $3 [$HOME]\" > '" + seen.string() + "'; echo '11003 0'");
  IcmpEchoReply reply = EchoThroughHelper(helper, inet_addr("192.0.2.10"), {data_.data(), 2}, 250);
  EXPECT_EQ(reply.status, kIcmpDestHostUnreachable);
  std::ifstream in(seen);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "3 192.0.2.10 250 4141 []");
}

TEST_F(IcmpHelperTest, FailuresOfTheHelper) {
  EXPECT_EQ(EchoThroughHelper(dir_ / "missing", kLoopbackAddress, data_, 100).status,
            kIcmpAccessDenied);
  EXPECT_EQ(EchoThroughHelper(Script("echo 'nonsense'"), kLoopbackAddress, data_, 100).status,
            kIcmpGeneralFailure);
  EXPECT_EQ(EchoThroughHelper(Script("echo '0 1'; exit 1"), kLoopbackAddress, data_, 100).status,
            kIcmpGeneralFailure);
  // One that never ends is killed once the time-out and the grace second have passed.
  EXPECT_EQ(EchoThroughHelper(Script("exec /bin/sleep 60"), kLoopbackAddress, data_, 100).status,
            kIcmpGeneralFailure);
}

// A user who may open no ICMP socket: the helper without its capability says so instead of
// reporting a time-out. A new network namespace has the kernel's default ping_group_range
// ("1 0"), and the ordinary user there has no capability.
TEST_F(IcmpHelperTest, HelperWithoutPermissionReportsAccessDenied) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  std::string command = "unshare -n setpriv --reuid=65534 --regid=65534 --clear-groups '" +
                        (BinDirectory() / kIcmpEchoHelperName).string() + "' 127.0.0.1 100 - 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  char buffer[128] = {};
  size_t got = fread(buffer, 1, sizeof buffer - 1, pipe.get());
  EXPECT_EQ(std::string(buffer, got), "5 0\n");
}

}  // namespace
