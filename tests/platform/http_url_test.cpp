#include "platform/http_url.h"

#include <gtest/gtest.h>

namespace {

TEST(HttpUrlTest, TlsFollowsEitherTheSchemeOrPort443) {
  struct Row {
    const char* in;
    const char* out;
  } rows[] = {
      {"http://example.org/a?b=1", "http://example.org:80/a?b=1"},
      {"http://example.org:443/x", "https://example.org:443/x"},
      {"https://example.org:8443/x", "https://example.org:8443/x"},
      {"HTTPS://example.org", "https://example.org:443/"},
      {"http://user:pw@example.org:81?q", "http://example.org:81/?q"},
      {"http://[::1]:8080/p", "http://[::1]:8080/p"},
      {"http://h/a b#frag", "http://h:80/a%20b"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.in);
    auto parts = ParseHttpUrl(row.in);
    ASSERT_TRUE(parts);
    EXPECT_EQ(RequestUrlFor(*parts), row.out);
  }
}

TEST(HttpUrlTest, RejectsWhatIsNotAnHttpUrl) {
  for (const char* bad : {"", "ftp://h/", "http://", "http://:80/", "http://h:0/",
                          "http://h:70000/", "http://h:8x/", "http://[::1/", "example.org"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseHttpUrl(bad));
  }
}

}  // namespace
