#include "platform/ansi_codec.h"

#include <gtest/gtest.h>

#include "support/scoped_locale.h"

namespace {

const Text kLone = Text(u"a") + char16_t(0xDC00);

// The C locale names plain ASCII; UTF-8 stands in for it.
TEST(AnsiCodecTest, PlainAsciiLocaleUsesUtf8) {
  ScopedLocale locale("C");
  EXPECT_EQ(EncodeAnsi(u"\u00e9\u4e16\U0001F600"), "\xc3\xa9\xe4\xb8\x96\xf0\x9f\x98\x80");
  EXPECT_EQ(DecodeAnsi("\xc3\xa9\xff"), u"\u00e9\ufffd");
  EXPECT_EQ(EncodeAnsi(kLone), std::nullopt);
}

// A double-byte code page: its characters take two bytes, missing ones become '?', and broken
// sequences decode as U+FFFD.
TEST(AnsiCodecTest, DoubleByteCodePage) {
  ScopedLocale locale("zh_CN.GBK");
  if (!locale.ok()) GTEST_SKIP() << "no GBK locale";
  EXPECT_EQ(EncodeAnsi(u"a\u4e2d\u6587"), "a\xd6\xd0\xce\xc4");
  EXPECT_EQ(EncodeAnsi(u"\u0e01x\U0001F600y"), "?x?y");
  EXPECT_EQ(DecodeAnsi("a\xd6\xd0\xce\xc4"), u"a\u4e2d\u6587");
  EXPECT_EQ(DecodeAnsi("a\xd6"), u"a\ufffd");
  EXPECT_EQ(EncodeAnsi(kLone), std::nullopt);
}

TEST(AnsiCodecTest, SingleByteCodePage) {
  ScopedLocale locale("en_US.ISO-8859-1");
  if (!locale.ok()) GTEST_SKIP() << "no ISO-8859-1 locale";
  EXPECT_EQ(EncodeAnsi(u"caf\u00e9 \u20ac"), "caf\xe9 ?");
  EXPECT_EQ(DecodeAnsi("caf\xe9"), u"caf\u00e9");
}

}  // namespace
