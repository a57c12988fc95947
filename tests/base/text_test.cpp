#include "base/text.h"

#include <gtest/gtest.h>

#include <clocale>

#include "support/scoped_locale.h"

TEST(TextTest, Utf8RoundTripsEveryPlane) {
  const Text samples[] = {u"", u"plain", u"caf\u00e9", u"\u4e2d\u6587", u"\U0001F600 ok"};
  for (const Text& s : samples) EXPECT_EQ(FromUtf8(ToUtf8(s)), s);
  EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

// A lone surrogate has no UTF-8 form: it becomes U+FFFD rather than invalid bytes.
TEST(TextTest, LoneSurrogateBecomesReplacement) {
  EXPECT_EQ(ToUtf8(Text(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(ToUtf8(Text(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(TextTest, InvalidUtf8BytesBecomeReplacements) {
  EXPECT_EQ(FromUtf8("a\xFFz"), u"a\uFFFDz");
  EXPECT_EQ(FromUtf8("\xC3"), u"\uFFFD");                      // truncated sequence
  EXPECT_EQ(FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");            // overlong NUL
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(FromUtf8(std::string("a\0b", 3)), Text(u"a\0b", 3));
}

TEST(TextTest, AnsiFollowsTheLocaleCodeset) {
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  std::string out = "poison";
  ASSERT_TRUE(ToAnsi(u"caf\u00e9", out));
  EXPECT_EQ(out, "caf\xC3\xA9");
  Text back = u"poison";
  ASSERT_TRUE(FromAnsi(out, back));
  EXPECT_EQ(back, u"caf\u00e9");

  // The C locale names ASCII; UTF-8 stands in for it.
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(AnsiCodeset(), "UTF-8");
}

TEST(TextTest, AnsiRefusesWhatTheCodesetCannotHold) {
  ScopedLocale latin1("en_US.ISO-8859-1");
  if (!latin1.ok()) GTEST_SKIP() << "no Latin-1 locale can be made here";
  ASSERT_EQ(AnsiCodeset(), "ISO-8859-1");
  std::string out = "untouched";
  EXPECT_FALSE(ToAnsi(u"\u4e2d", out));
  EXPECT_EQ(out, "untouched");
  ASSERT_TRUE(ToAnsi(u"\u00e9", out));
  EXPECT_EQ(out, "\xE9");
}

TEST(TextTest, InvalidAnsiInputFails) {
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  Text out = u"untouched";
  EXPECT_FALSE(FromAnsi("\xFF\xFE", out));
  EXPECT_EQ(out, u"untouched");
  std::setlocale(LC_ALL, "C");
}
