#include <gtest/gtest.h>

#include <clocale>

#include "base/command_line.h"
#include "base/compare.h"
#include "base/decimal.h"
#include "base/path.h"
#include "base/split.h"
#include "support/expect_rows.h"

TEST(PathTest, GetParentPath) {
  const Row<const char16_t*, const char16_t*> rows[] = {
      {u"/a/b", u"/a"},     {u"/a/b/", u"/a"}, {u"\\a\\b", u"/a"}, {u"/a/b//", u"/a"},
      {u"/a", u""},         {u"a", u""},       {u"", u""},         {u"C:\\a\\b", u"C:/a"},
      {u"C:/a/b", u"C:/a"}, {u"C:\\a", u"C:"}, {u"C:", u""},
  };
  ExpectRows([](const char16_t* path) { return GetParentPath(path); }, rows);
}

TEST(PathTest, AppDirectoryHoldsThisExecutable) {
  Text dir = GetAppDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), u'/');
  std::vector<Text> args = GetCommandLineArgs();
  ASSERT_FALSE(args.empty());
  EXPECT_NE(args[0].find(u"base_tests"), Text::npos);
}

TEST(SplitTextTest, KeepsInnerEmptyFieldsButNoTrailingOne) {
  using V = std::vector<Text>;
  EXPECT_EQ(SplitText(u"a,,b", u','), (V{u"a", u"", u"b"}));
  EXPECT_EQ(SplitText(u"a,b,", u','), (V{u"a", u"b"}));
  EXPECT_EQ(SplitText(u",a", u','), (V{u"", u"a"}));
  EXPECT_EQ(SplitText(u",", u','), (V{u""}));
  EXPECT_EQ(SplitText(u"", u','), V{});
  EXPECT_EQ(SplitText(u"abc", u','), V{u"abc"});
  EXPECT_EQ(SplitText(u"a,,", u','), (V{u"a", u""}));
}

TEST(CompareNoCaseTest, IgnoresCaseOverTheWholeText) {
  std::setlocale(LC_ALL, "C.UTF-8");
  EXPECT_EQ(CompareNoCase(u"Foo.EXE", u"foo.exe"), 0);
  EXPECT_EQ(CompareNoCase(u"\u00c9t\u00c9", u"\u00e9t\u00e9"), 0);
  EXPECT_EQ(CompareNoCase(u"abc", u"abd"), -1);
  EXPECT_EQ(CompareNoCase(u"abd", u"ABC"), 1);
  EXPECT_EQ(CompareNoCase(u"foo", u"foo.exe"), -1);
  EXPECT_EQ(CompareNoCase(u"", u""), 0);
  // Embedded NULs take part: the texts are compared whole.
  EXPECT_EQ(CompareNoCase(Text(u"a\0b", 3), Text(u"A\0B", 3)), 0);
  EXPECT_NE(CompareNoCase(Text(u"a\0b", 3), u"a"), 0);
  std::setlocale(LC_ALL, "C");
}

TEST(WToITest, ReadsLeadingDecimalNumbersAsTheRunTimeDoes) {
  EXPECT_EQ(WToI(u"1002"), 1002);
  EXPECT_EQ(WToI(u"  -42xyz"), -42);
  EXPECT_EQ(WToI(u"\t+7"), 7);
  EXPECT_EQ(WToI(u"x12"), 0);
  EXPECT_EQ(WToI(u""), 0);
  EXPECT_EQ(WToI(u"- 5"), 0);
  EXPECT_EQ(WToI(u"99999999999"), INT32_MAX);
  EXPECT_EQ(WToI(u"-2147483648"), INT32_MIN);
  EXPECT_EQ(WToI(u"-99999999999"), INT32_MIN);
}
