// Loads the built report library the way a host program does and drives its five exports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "report/client_id.h"
#include "support/loopback_http_server.h"

using namespace std::chrono_literals;
using testing_support::LoopbackHttpServer;

namespace {

struct Exports {
  void (*InitReport)(const char*, const char*, const char*, const char*, int);
  void (*StartReport)(const char*, const char*);
  void (*StartReportZh)(const char*, const char*);
  void (*ReportWait)();
  const char* (*GetSourceId)();
};

template <typename F>
void Find(void* library, const char* name, F& out) {
  out = reinterpret_cast<F>(dlsym(library, name));
  ASSERT_NE(out, nullptr) << name;
}

TEST(QuilletLibraryTest, ExportsWorkFromLoadToUnload) {
  LoopbackHttpServer plain;
  LoopbackHttpServer tls(LoopbackHttpServer::Mode::kTls);
  // The library's defaults come from the environment when it is loaded.
  setenv("MORVIL_REPORT_URL", plain.http("/report").c_str(), 1);
  setenv("MORVIL_ANALYTICS_URL", plain.http("").c_str(), 1);
  setenv("SSL_CERT_FILE", tls.ca_file().c_str(), 1);
  void* library = dlopen(QUILLET_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  Exports q{};
  Find(library, "InitReport", q.InitReport);
  Find(library, "StartReport", q.StartReport);
  Find(library, "StartReportZh", q.StartReportZh);
  Find(library, "ReportWait", q.ReportWait);
  Find(library, "GetSourceId", q.GetSourceId);
  EXPECT_EQ(dlsym(library, "NormalizeSourceId"), nullptr);  // nothing else is exported

  // Without InitReport: the default endpoint, version 1.0, source 0.
  EXPECT_STREQ(q.GetSourceId(), "0");
  q.StartReport("start", "ok");
  auto requests = plain.WaitForRequests(2, 5s);
  ASSERT_EQ(requests.size(), 2u);
  std::string expected =
      "GET /report?a=start&v=1.0&s=0&p=ok&c=" + ReadMachineClientId() + " HTTP/1.1\r\n";
  EXPECT_TRUE(requests[0].line == expected || requests[1].line == expected);

  // InitReport normalises the source id and switches both endpoints to https.
  q.InitReport("2.0", "setup_1234.exe", "UA-9", tls.url("http", "/report").c_str(), 1);
  EXPECT_STREQ(q.GetSourceId(), "1234");
  q.StartReportZh("a b", "x");
  q.ReportWait();
  // The analytics hit now speaks TLS to the plain server, which records nothing.
  EXPECT_EQ(plain.Requests().size(), 2u);
  auto secure = tls.WaitForRequests(1, 5s);
  ASSERT_EQ(secure.size(), 1u);
  EXPECT_EQ(secure[0].line,
            "GET /report?a=a%20b&v=2.0&s=1234&p=x&c=" + ReadMachineClientId() + " HTTP/1.1\r\n");

  EXPECT_EQ(dlclose(library), 0);
  unsetenv("MORVIL_REPORT_URL");
  unsetenv("MORVIL_ANALYTICS_URL");
  unsetenv("SSL_CERT_FILE");
}

}  // namespace
