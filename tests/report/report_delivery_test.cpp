#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/text.h"
#include "report/client_id.h"
#include "report/install_date.h"
#include "report/report_instance.h"
#include "support/loopback_http_server.h"

using namespace std::chrono_literals;
using testing_support::LoopbackHttpServer;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> Lines(const std::vector<testing_support::RecordedRequest>& requests) {
  std::vector<std::string> lines;
  for (auto& r : requests) lines.push_back(r.line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

class ReportDeliveryTest : public ::testing::Test {
 protected:
  std::unique_ptr<ReportInstance<char16_t>> Make(const std::string& report_path) {
    auto reports = std::make_unique<ReportInstance<char16_t>>(ReportInstance<char16_t>::Defaults{
        .reportUrl = report_path.empty() ? Text() : FromUtf8(server_.http(report_path)),
        .analyticsUrl = FromUtf8(server_.http("")),
        .trackingId = u"UA-13572468-1",
        .userAgent = "morvil"});
    reports->SetClientId(u"5E4D3C2B1A00");
    return reports;
  }

  LoopbackHttpServer server_;
};

TEST_F(ReportDeliveryTest, BothRequestLinesGoOutByteForByte) {
  auto reports = Make("/report");
  const std::string date = ReadExecutableInstallDate();
  // A fresh thread's first two events carry z=41 and z=18467.
  std::thread([&] {
    reports->SendReport(u"start", u"ok");
    reports->SendReport(u"stop", u"bye");
  }).join();
  auto requests = server_.WaitForRequests(4, 5s);
  EXPECT_EQ(Lines(requests),
            (std::vector<std::string>{
                "GET /collect?v=1&tid=UA-13572468-1&cid=5E4D3C2B1A00&t=event&ec=client&ea=start"
                "&el=ok&z=41&de=UTF-8&cd1=0&cd2=1.0&cd3=" +
                    date + " HTTP/1.1\r\n",
                "GET /collect?v=1&tid=UA-13572468-1&cid=5E4D3C2B1A00&t=event&ec=client&ea=stop"
                "&el=bye&z=18467&de=UTF-8&cd1=0&cd2=1.0&cd3=" +
                    date + " HTTP/1.1\r\n",
                "GET /report?a=start&v=1.0&s=0&p=ok&c=5E4D3C2B1A00 HTTP/1.1\r\n",
                "GET /report?a=stop&v=1.0&s=0&p=bye&c=5E4D3C2B1A00 HTTP/1.1\r\n",
            }));
  EXPECT_NE(requests[0].headers.find("User-Agent: morvil\r\n"), std::string::npos);
}

TEST_F(ReportDeliveryTest, EncodedEventsAndAnEmptyReportUrl) {
  auto reports = Make("");
  reports->SendReportEncoded(u"a b", u"\u00e9");
  auto requests = server_.WaitForRequests(1, 5s);
  ASSERT_EQ(requests.size(), 1u);  // the report request fails in its worker
  EXPECT_NE(requests[0].line.find("&ea=a%20b&el=%c3%a9&"), std::string::npos);
  auto end = Clock::now() + 5s;
  while (reports->pendingRequests() != 0 && Clock::now() < end) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(reports->pendingRequests(), 0);
}

TEST_F(ReportDeliveryTest, ABurstRunsOnBoundedWorkersAndEveryRequestArrives) {
  auto reports = Make("/report");
  for (int i = 0; i < 150; ++i) reports->SendReport(u"burst", FromUtf8(std::to_string(i)));
  EXPECT_GT(reports->pendingRequests(), 0);
  EXPECT_LE(reports->workerThreads(), 4u);
  EXPECT_EQ(server_.WaitForRequests(300, 20s).size(), 300u);
  auto end = Clock::now() + 5s;
  while (reports->pendingRequests() != 0 && Clock::now() < end) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(reports->pendingRequests(), 0);
}

TEST_F(ReportDeliveryTest, ReportWaitLastsOneSecondWhenIdleAndTenWhileARequestHangs) {
  auto reports = Make("/hang");
  auto start = Clock::now();
  reports->ReportWait();
  EXPECT_NEAR(SecondsSince(start), 1.0, 0.3);

  reports->SendReport(u"x", u"y");
  start = Clock::now();
  reports->ReportWait();
  EXPECT_NEAR(SecondsSince(start), 10.0, 0.5);
  EXPECT_EQ(reports->pendingRequests(), 1);  // still hanging

  // Ending the engine cancels the hanging request instead of waiting for it.
  start = Clock::now();
  reports.reset();
  EXPECT_LT(SecondsSince(start), 3.0);
}

TEST(ReportTlsTest, CertificatesAreVerifiedWhateverThePort) {
  LoopbackHttpServer tls(LoopbackHttpServer::Mode::kTls);
  unsetenv("SSL_CERT_FILE");
  ReportInstance<char> untrusted({.reportUrl = tls.url("https", "/report"),
                                  .analyticsUrl = tls.url("https", ""),
                                  .trackingId = "t",
                                  .userAgent = "Quillet"});
  untrusted.SendReport("a", "b");
  auto end = Clock::now() + 5s;
  while (untrusted.pendingRequests() != 0 && Clock::now() < end) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(untrusted.pendingRequests(), 0);
  EXPECT_TRUE(tls.Requests().empty());

  setenv("SSL_CERT_FILE", tls.ca_file().c_str(), 1);
  ReportInstance<char> trusted({.reportUrl = tls.url("http", "/report"),
                                .analyticsUrl = tls.url("http", ""),
                                .trackingId = "t",
                                .userAgent = "Quillet"});
  trusted.SetReportScheme(true);
  trusted.SendReport("a", "b");
  EXPECT_EQ(tls.WaitForRequests(2, 5s).size(), 2u);
  unsetenv("SSL_CERT_FILE");
}

}  // namespace
