#include "platform/internet_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/loopback_http_server.h"

using testing_support::LoopbackHttpServer;

namespace {

class CollectingSink : public HttpResponseSink {
 public:
  bool OnStatus(long status) override {
    this->status = status;
    return true;
  }
  bool OnData(const char* data, size_t size) override {
    body.append(data, size);
    return true;
  }
  long status = 0;
  std::string body;
};

class InternetSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("SSL_CERT_FILE", tls_.ca_file().c_str(), 1);
    auto session = InternetSession::Open("morvil-test");
    ASSERT_TRUE(session);
    session_ = *session;
  }
  void TearDown() override { unsetenv("SSL_CERT_FILE"); }

  Result<long> Get(const std::string& url) {
    HttpRequest request;
    request.url = url;
    sink_ = CollectingSink();
    return session_->Send(request, sink_);
  }

  LoopbackHttpServer plain_;
  LoopbackHttpServer tls_{LoopbackHttpServer::Mode::kTls};
  std::shared_ptr<InternetSession> session_;
  CollectingSink sink_;
};

// A redirect that would leave TLS fails the request before anything reaches the plain server;
// redirects that stay on https, or go up from http to https, are followed.
TEST_F(InternetSessionTest, RedirectsNeverLeaveHttps) {
  const std::string plain_target = plain_.http("/bytes/10");
  EXPECT_FALSE(Get(tls_.url("https", "/goto?" + plain_target)));
  EXPECT_TRUE(plain_.Requests().empty());

  // Reached from plain http, https is kept from then on as well.
  EXPECT_FALSE(Get(plain_.http("/goto?" + tls_.url("https", "/goto%3F" + plain_target))));
  EXPECT_EQ(plain_.Requests().size(), 1u);  // only the first request

  auto same = Get(tls_.url("https", "/goto?" + tls_.url("https", "/bytes/10")));
  ASSERT_TRUE(same);
  EXPECT_EQ(*same, 200);
  EXPECT_EQ(sink_.body.size(), 10u);

  auto up = Get(plain_.http("/goto?" + tls_.url("https", "/bytes/10")));
  ASSERT_TRUE(up);
  EXPECT_EQ(*up, 200);
  EXPECT_EQ(sink_.body.size(), 10u);
}

}  // namespace
