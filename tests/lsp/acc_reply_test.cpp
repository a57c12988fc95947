// The acceleration request as the server reads it and the replies as the server writes them.
#include "lsp/acc_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

namespace {

std::vector<uint8_t> Utf16(const Text& text) {
  std::vector<uint8_t> out;
  for (char16_t unit : text) {
    out.push_back(static_cast<uint8_t>(unit & 0xff));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return out;
}

TEST(AccReplyTest, RequestCarriesPidAndPathAsUtf16) {
  uint8_t out[256];
  size_t size = EncodeAccRequest(out, 4321, "/opt/spiele/\xc3\xa4\xf0\x9f\x8e\xae");
  ASSERT_NE(size, 0u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + size), Utf16(u"RequestAcc,4321,/opt/spiele/ä🎮"));
  EXPECT_EQ(EncodeAccRequest(out, 1, "/bad/\xff"), 0u);
  EXPECT_EQ(EncodeAccRequest(std::span(out, 30), 1, "/a/long/path/name"), 0u);
}

TEST(AccReplyTest, AcceleratedReply) {
  AccReply reply;
  std::vector<uint8_t> bytes = Utf16(u"1,proxy.example,1080,tök,en");
  ASSERT_TRUE(ParseAccReply(bytes, reply));
  EXPECT_TRUE(reply.accelerate);
  EXPECT_STREQ(reply.server, "proxy.example");
  EXPECT_EQ(reply.port, 1080);
  // A comma inside the token is kept: the token is all that follows the third comma.
  EXPECT_EQ(std::string(reply.token, reply.token_size), "t\xc3\xb6k,en");
}

TEST(AccReplyTest, RepliesThatDoNotAccelerate) {
  for (const char16_t* text :
       {u"0,10.0.0.1,8080,token", u"0,,,", u"1,10.0.0.1,8080", u"1,,8080,token",
        u"1,10.0.0.1,0,token", u"1,10.0.0.1,65536,token", u"1,10.0.0.1,80a,token",
        u"1,10.0.0.1,,token", u"11,10.0.0.1,8080,token", u"", u"1,10.0.0.1,8080,to\xd800ken"}) {
    SCOPED_TRACE(ToUtf8(text));
    AccReply reply;
    reply.accelerate = true;
    EXPECT_FALSE(ParseAccReply(Utf16(text), reply));
    EXPECT_FALSE(reply.accelerate);
  }
  // SOCKS5 carries at most 255 bytes of username and password.
  AccReply reply;
  // Without a token the proxy is used without authentication.
  EXPECT_TRUE(ParseAccReply(Utf16(u"1,10.0.0.1,8080,"), reply));
  EXPECT_TRUE(reply.accelerate);
  EXPECT_EQ(reply.token_size, 0u);
  EXPECT_TRUE(ParseAccReply(Utf16(u"1,h,1," + Text(255, u'x')), reply));
  EXPECT_FALSE(ParseAccReply(Utf16(u"1,h,1," + Text(256, u'x')), reply));
}

}  // namespace
