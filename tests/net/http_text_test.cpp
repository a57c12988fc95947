#include "net/http_text.h"

#include <gtest/gtest.h>

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(HttpTextTest, FirstLineReadsUtf16LeAndDropsCrAndFinalLf) {
  // O, K, CR, LF: "OK" is one unit, CR is dropped and LF pairs with a zero byte.
  EXPECT_EQ(DecodeUtf16LeFirstLine("OK\r\n"), Text(1, char16_t(0x4B4F)));
  EXPECT_EQ(DecodeUtf16LeFirstLine(Bytes({'a', 0, 'b', 0, '\n', 0, 'c', 0})), u"ab");
  EXPECT_EQ(DecodeUtf16LeFirstLine(Bytes({'a', 0, 0, 0, 'b', 0})), u"a");  // zero unit ends it
  EXPECT_EQ(DecodeUtf16LeFirstLine(Bytes({'a', 0, 'b'})), u"ab");          // odd byte + zero
  EXPECT_EQ(DecodeUtf16LeFirstLine(""), u"");
}

TEST(HttpTextTest, PostBodyIsTheUtf16LePrefixCutToTheData) {
  EXPECT_EQ(Utf16LeBody(u"ab", 4), Bytes({'a', 0, 'b', 0}));
  EXPECT_EQ(Utf16LeBody(u"ab", 2), Bytes({'a', 0}));
  EXPECT_EQ(Utf16LeBody(u"ab", 3), Bytes({'a', 0, 'b'}));
  EXPECT_EQ(Utf16LeBody(u"ab", 1000), Bytes({'a', 0, 'b', 0}));
  EXPECT_EQ(Utf16LeBody(u"\u20ac", 2), Bytes({0xAC, 0x20}));
}

TEST(HttpTextTest, Utf8AnswerDropsOnlyACharacterSplitByTheCut) {
  const std::string euro = "\xE2\x82\xAC";
  EXPECT_EQ(DecodeUtf8Answer("a" + euro.substr(0, 2), /*cut=*/true), u"a");
  EXPECT_EQ(DecodeUtf8Answer("a" + euro, /*cut=*/true), u"a\u20ac");
  EXPECT_EQ(DecodeUtf8Answer("a" + euro.substr(0, 2), /*cut=*/false), u"a\uFFFD\uFFFD");
  EXPECT_EQ(DecodeUtf8Answer(std::string("ab\0cd", 5), false), u"ab");
}

TEST(HttpTextTest, HeaderLinesSplitAtLineBreaks) {
  EXPECT_EQ(HeaderLines(u"A: 1\r\nB: 2\r\n"), (std::vector<std::string>{"A: 1", "B: 2"}));
  EXPECT_EQ(HeaderLines(u"A: 1\nB: \u00e9"), (std::vector<std::string>{"A: 1", "B: \xC3\xA9"}));
  EXPECT_TRUE(HeaderLines(u"").empty());
}

}  // namespace
