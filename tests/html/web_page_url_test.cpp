#include <gtest/gtest.h>

#include "html/page_url.h"

namespace {

// What a remote page may still open with NewInstance: only what names a page on the web.
TEST(WebPageUrlTest, OnlyHttpAndHttpsInAnyCase) {
  for (const char16_t* url : {u"http://a.test/x.html", u"HTTPS://a.test/", u"hTtP://"})
    EXPECT_TRUE(IsWebPageUrl(url)) << ToUtf8(url);
  for (const char16_t* url :
       {u"file:///opt/morvil/res/x.html", u"res://morvil.exe/1", u"www.a.test", u"about:blank",
        u"data:text/html,x", u"javascript:1", u"http:/a.test", u"ftp://a.test/", u"", u"http"})
    EXPECT_FALSE(IsWebPageUrl(url)) << ToUtf8(url);
}

}  // namespace
