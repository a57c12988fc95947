#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "net/base_http_file.h"
#include "net/http_string_requests.h"
#include "support/loopback_http_server.h"

namespace fs = std::filesystem;
using testing_support::LoopbackHttpServer;
using testing_support::ReadWholeFile;

namespace {

std::string Pattern(size_t n) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(i % 251);
  return out;
}

Text T(const std::string& utf8) {
  return FromUtf8(utf8);
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

class HttpTransferTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing_support::MakeTempDir("morvil-net"); }
  void TearDown() override { fs::remove_all(dir_); }

  // Every file in the directory, so that a left-over temporary file shows.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  LoopbackHttpServer server_;
  fs::path dir_;
};

TEST_F(HttpTransferTest, DownloadStoresWholeBodiesOfEveryFraming) {
  for (const char* route : {"/bytes/100000", "/nolength/50000", "/chunked/50000", "/bytes/0"}) {
    SCOPED_TRACE(route);
    fs::path target = dir_ / "out.bin";
    WriteFile(target, "old content");
    ASSERT_TRUE(TheHttpFile().DownLoadFile(T(server_.http(route)), T(target.string())));
    size_t n = std::stoul(std::string(route).substr(std::string(route).rfind('/') + 1));
    EXPECT_EQ(ReadWholeFile(target), Pattern(n));
    EXPECT_EQ(Listing(), std::vector<std::string>{"out.bin"});
  }
}

// A download to a symbolic link replaces the file it names, which keeps its permissions.
TEST_F(HttpTransferTest, DownloadWritesThroughASymbolicLink) {
  fs::path target = dir_ / "real.bin";
  WriteFile(target, "old content");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("real.bin", dir_ / "link.bin");
  ASSERT_TRUE(
      TheHttpFile().DownLoadFile(T(server_.http("/bytes/1000")), T((dir_ / "link.bin").string())));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.bin"));
  EXPECT_EQ(ReadWholeFile(target), Pattern(1000));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(HttpTransferTest, DownloadFollowsRedirectsAndTakesBackslashPaths) {
  fs::path target = dir_ / "r.bin";
  Text path = T(dir_.string()) + u"\\r.bin";
  ASSERT_TRUE(TheHttpFile().DownLoadFile(T(server_.http("/redirect")), path));
  EXPECT_EQ(ReadWholeFile(target), Pattern(10));
}

TEST_F(HttpTransferTest, FailedDownloadLeavesTheExistingFileAndNoTemporary) {
  fs::path target = dir_ / "keep.txt";
  WriteFile(target, "keep me");
  for (const char* route : {"/status/404", "/status/500", "/short/100000"}) {
    SCOPED_TRACE(route);
    EXPECT_FALSE(TheHttpFile().DownLoadFile(T(server_.http(route)), T(target.string())));
    EXPECT_EQ(ReadWholeFile(target), "keep me");
    EXPECT_EQ(Listing(), std::vector<std::string>{"keep.txt"});
  }
  // A 404 creates no file where there was none.
  EXPECT_FALSE(
      TheHttpFile().DownLoadFile(T(server_.http("/status/404")), T((dir_ / "new").string())));
  EXPECT_FALSE(fs::exists(dir_ / "new"));
}

TEST_F(HttpTransferTest, DownloadFailsForBadUrlsMissingFoldersAndClosedPorts) {
  EXPECT_FALSE(TheHttpFile().DownLoadFile(u"not a url", T((dir_ / "a").string())));
  EXPECT_FALSE(TheHttpFile().DownLoadFile(T(server_.http("/bytes/10")),
                                          T((dir_ / "missing" / "a").string())));
  EXPECT_FALSE(TheHttpFile().DownLoadFile(u"http://127.0.0.1:1/x", T((dir_ / "a").string())));
  EXPECT_TRUE(Listing().empty());
}

TEST_F(HttpTransferTest, GetStringCutsAt8000BytesAndDecodesUtf8) {
  std::string body;
  while (body.size() < 8000) body += "a\xE2\x82\xAC";
  EXPECT_EQ(GetStringFromUrl(T(server_.http("/utf8/20000")), u""), FromUtf8(body.substr(0, 8000)));
  // With one byte in front, the 8000th byte splits a character, which is dropped.
  Text shifted = GetStringFromUrl(T(server_.http("/utf8/20000?prefix=x")), u"");
  EXPECT_EQ(shifted, FromUtf8("x" + body.substr(0, 7997)));
  EXPECT_EQ(GetStringFromUrl(T(server_.http("/utf8/9")), u""), u"a\u20aca\u20aca");
}

TEST_F(HttpTransferTest, GetStringSendsThePageHeadersAndFailsOnOtherStatuses) {
  EXPECT_EQ(GetStringFromUrl(T(server_.http("/hex/6869")), u"X-One: 1\r\nX-Two: 2"), u"hi");
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].headers.find("X-One: 1\r\nX-Two: 2\r\n"), std::string::npos);
  EXPECT_NE(requests[0].headers.find("User-Agent: morvil\r\n"), std::string::npos);
  EXPECT_EQ(GetStringFromUrl(T(server_.http("/status/404")), u""), u"");
  EXPECT_EQ(GetStringFromUrl(u"http://127.0.0.1:1/", u""), u"");
}

TEST_F(HttpTransferTest, PostSendsTheUtf16LePrefixAndReadsTheFirstLine) {
  EXPECT_EQ(PostDataToUrl(T(server_.http("/echo")), u"ab", 4, u""), u"ab");
  EXPECT_EQ(PostDataToUrl(T(server_.http("/echo")), u"ab", 2, u""), u"a");
  EXPECT_EQ(PostDataToUrl(T(server_.http("/echo")), u"ab", 99, u"X-Kind: raw"), u"ab");
  EXPECT_EQ(PostDataToUrl(T(server_.http("/echo")), u"one\ntwo", 14, u""), u"one");
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].body, std::string("a\0b\0", 4));
  EXPECT_EQ(requests[1].body, std::string("a\0", 2));
  EXPECT_EQ(requests[2].body, std::string("a\0b\0", 4));
  EXPECT_EQ(requests[0].line.substr(0, 10), "POST /echo");
  EXPECT_NE(requests[0].headers.find("Content-Type: application/x-www-form-urlencoded\r\n"),
            std::string::npos);
  EXPECT_EQ(requests[2].headers.find("Content-Type:"), std::string::npos);
  EXPECT_NE(requests[2].headers.find("X-Kind: raw\r\n"), std::string::npos);
}

TEST_F(HttpTransferTest, PostAnswerOkCrLfGivesOneUnitAndNegativeLengthSendsNothing) {
  EXPECT_EQ(PostDataToUrl(T(server_.http("/hex/4F4B0D0A")), u"", 0, u""),
            Text(1, char16_t(0x4B4F)));
  EXPECT_EQ(PostDataToUrl(T(server_.http("/echo")), u"ab", -1, u""), u"");
  EXPECT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(PostDataToUrl(T(server_.http("/status/201")), u"ab", 4, u""), u"");
}

TEST_F(HttpTransferTest, UploadIsAWellFormedMultipartBody) {
  std::string content = Pattern(70000);
  fs::path file = dir_ / "data.bin";
  WriteFile(file, content);
  ASSERT_TRUE(TheHttpFile().UploadFile(T(server_.http("/echo")), T(file.string()), u"tester/1.0",
                                       u"XyZ0123boundary",
                                       u"name=\"upload\"; filename=\"data.bin\""));
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_NE(r.headers.find("Content-Type: multipart/form-data; boundary=XyZ0123boundary\r\n"),
            std::string::npos);
  EXPECT_NE(r.headers.find("User-Agent: tester/1.0\r\n"), std::string::npos);
  EXPECT_NE(r.headers.find("Content-Length: " + std::to_string(r.body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(r.parts, "upload\tdata.bin\tapplication/octet-stream\t70000\ndefects=0\n");
  EXPECT_EQ(ReadWholeFile(r.base.string() + ".part0"), content);
  EXPECT_EQ(r.body.substr(r.body.size() - 23), "\r\n--XyZ0123boundary--\r\n");
}

TEST_F(HttpTransferTest, UploadCountsNonAsciiTextInUtf8Bytes) {
  fs::path file = dir_ / "e.bin";
  WriteFile(file, "");
  ASSERT_TRUE(TheHttpFile().UploadFile(T(server_.http("/echo")), T(file.string()), u"t", u"b",
                                       u"name=\"f\u00e9\""));
  auto r = server_.Requests().at(0);
  EXPECT_NE(r.headers.find("Content-Length: " + std::to_string(r.body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_NE(r.body.find("name=\"f\xC3\xA9\"\r\n"), std::string::npos);
  EXPECT_NE(r.parts.find("\t0\ndefects=0"), std::string::npos);
}

TEST_F(HttpTransferTest, UploadFailuresReachNoServerOrReportTheStatus) {
  EXPECT_FALSE(TheHttpFile().UploadFile(T(server_.http("/echo")), T((dir_ / "none").string()), u"t",
                                        u"b", u"name=\"f\""));
  fs::path file = dir_ / "x.bin";
  WriteFile(file, "x");
  EXPECT_FALSE(TheHttpFile().UploadFile(T(server_.http("/echo")), T(file.string()),
                                        u"t\r\nX-Injected: 1", u"b", u"name=\"f\""));
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_FALSE(TheHttpFile().UploadFile(T(server_.http("/status/404")), T(file.string()), u"t",
                                        u"b", u"name=\"f\""));
}

class HttpsTransferTest : public HttpTransferTest {
 protected:
  LoopbackHttpServer tls_{LoopbackHttpServer::Mode::kTls};
};

TEST_F(HttpsTransferTest, HttpsOnAnyPortUsesTlsAndVerifiesTheCertificate) {
  const std::string url = tls_.url("https", "/bytes/3000");
  // Without the test CA the certificate is not trusted.
  unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(GetStringFromUrl(T(tls_.url("https", "/hex/6869")), u""), u"");
  EXPECT_FALSE(TheHttpFile().DownLoadFile(T(url), T((dir_ / "a").string())));
  EXPECT_TRUE(tls_.Requests().empty());

  setenv("SSL_CERT_FILE", tls_.ca_file().c_str(), 1);
  EXPECT_EQ(GetStringFromUrl(T(tls_.url("https", "/hex/6869")), u""), u"hi");
  EXPECT_TRUE(TheHttpFile().DownLoadFile(T(url), T((dir_ / "a").string())));
  EXPECT_EQ(ReadWholeFile(dir_ / "a"), Pattern(3000));
  fs::path file = dir_ / "a";
  EXPECT_TRUE(TheHttpFile().UploadFile(T(tls_.url("https", "/echo")), T(file.string()), u"t", u"b",
                                       u"name=\"f\""));
  EXPECT_EQ(PostDataToUrl(T(tls_.url("https", "/echo")), u"ok", 4, u""), u"ok");
  // The same server named by a certificate's absent host name fails verification.
  EXPECT_EQ(
      GetStringFromUrl(T("https://127.0.0.2:" + std::to_string(tls_.port()) + "/hex/6869"), u""),
      u"");
  unsetenv("SSL_CERT_FILE");
}

}  // namespace
