// The page's text files and INI files in a double-byte code page.
#include <gtest/gtest.h>

#include "services/file_methods.h"
#include "support/scoped_locale.h"
#include "support/temp_home.h"

namespace {

class CodePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!locale_.ok()) GTEST_SKIP() << "no GBK locale";
  }
  Text T(const std::string& relative) const { return FromUtf8(home_.path(relative)); }
  TempHome home_;
  ScopedLocale locale_{"zh_CN.GBK"};
};

TEST_F(CodePageTest, TextFilesUseTheCodePage) {
  EXPECT_TRUE(WriteFileContent(T("t.txt"), u"\u4e2d\u6587 ok"));
  EXPECT_EQ(TempHome::ReadAll(home_.path("t.txt")), "\xd6\xd0\xce\xc4 ok");
  EXPECT_EQ(ReadFileContent(T("t.txt")), u"\u4e2d\u6587 ok");
  // A UTF-8 file is read as if it were in the code page.
  TempHome::WriteAll(home_.path("u.txt"), "\xe4\xb8\xad");
  EXPECT_EQ(ReadFileContent(T("u.txt")), u"\u6d93\ufffd");
}

// U+4E5A is 81 5D in GBK: its second byte is ']', which must not end a section name.
TEST_F(CodePageTest, IniNamesWithTrailBytesThatLookLikeSyntax) {
  ASSERT_TRUE(WriteConfig(T("g.ini"), u"\u4e5a\u4e2d", u"\u4e5a", u"\u6587"));
  EXPECT_EQ(TempHome::ReadAll(home_.path("g.ini")), "[\x81]\xd6\xd0]\n\x81]=\xce\xc4\n");
  EXPECT_EQ(ReadConfig(T("g.ini"), u"\u4e5a\u4e2d", u"\u4e5a"), u"\u6587");
  EXPECT_EQ(ReadConfig(T("g.ini"), u"\u4e5a", u"\u4e5a"), u"");
}

}  // namespace
