#include "framework/bridge_protocol.h"

#include <gtest/gtest.h>

TEST(BridgeProtocolTest, ParsesACallWithEveryArgumentKind) {
  auto r = ParseBridgeRequest(
      "42\n\"file:///opt/morvil/res/index.html\"\n\"Move\"\ns\"a\\nb\"\ni-5\nd1.5\nb1\nu\nn\no");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->page_id, 42u);
  EXPECT_EQ(r->frame_url, u"file:///opt/morvil/res/index.html");
  EXPECT_EQ(r->method, u"Move");
  ASSERT_EQ(r->args.size(), 7u);
  EXPECT_EQ(r->args[0].string, u"a\nb");
  EXPECT_EQ(r->args[1].integer, -5);
  EXPECT_EQ(r->args[2].number, 1.5);
  EXPECT_TRUE(r->args[3].boolean);
  EXPECT_EQ(r->args[4].kind, ScriptValue::Kind::kEmpty);
  EXPECT_EQ(r->args[5].kind, ScriptValue::Kind::kNull);
  EXPECT_EQ(r->args[6].kind, ScriptValue::Kind::kObject);
  auto none = ParseBridgeRequest("1\n\"\"\n\"Hide\"");
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->args.empty());
}

TEST(BridgeProtocolTest, RefusesMalformedCalls) {
  for (const char* wire :
       {"", "x\n\"\"\n\"A\"", "1\n\"\"", "1\n\"\"\n\"A\"\nq", "1\n\"\"\n\"A\"\ni1.5",
        "1\n\"\"\n\"A\"\ni99999999999", "1\n\"\"\n\"A\"\ns\"open", "1\n\"\"\n\"A\"\nb2"}) {
    SCOPED_TRACE(wire);
    EXPECT_FALSE(ParseBridgeRequest(wire));
  }
}

// Any UTF-16 text survives: lone surrogates, NUL, quotes, control characters, astral planes.
TEST(BridgeProtocolTest, JsonStringsCarryAnyUtf16Text) {
  const Text samples[] = {
      u"",
      u"plain",
      u"\"quoted\" \\ back",
      Text(u"nul\0here", 8),
      u"\t\r\n\x1f",
      Text(1, char16_t(0xD800)) + u"x" + Text(1, char16_t(0xDC00)),
      u"\U0001F600 \u4e2d",
  };
  for (const Text& s : samples) {
    std::string json = EncodeJsonString(s);
    for (unsigned char c : json) EXPECT_GE(c, 0x20);  // no raw control bytes on the wire
    std::optional<Text> back = DecodeJsonString(json);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, s);
  }
  // What JavaScript's JSON.stringify writes for a lone surrogate.
  EXPECT_EQ(DecodeJsonString("\"\\ud800\""), Text(1, char16_t(0xD800)));
  EXPECT_FALSE(DecodeJsonString("\"\\u12\""));
  EXPECT_FALSE(DecodeJsonString("\"a\"b\""));
}

TEST(BridgeProtocolTest, RepliesEncodeTheirType) {
  EXPECT_EQ(EncodeBridgeReply(ScriptResult()), "u");
  EXPECT_EQ(EncodeBridgeReply(ScriptResult(Text(u"a\"b"))), "s\"a\\\"b\"");
  EXPECT_EQ(EncodeBridgeReply(ScriptResult(int32_t{-2})), "i-2");
  EXPECT_EQ(EncodeBridgeReply(ScriptResult(true)), "b1");
  EXPECT_EQ(EncodeBridgeError(E_ACCESSDENIED, u"no"), "e-2147024891\n\"no\"");
}

// The layout's replies: arrays of strings and numbers as JSON.stringify writes them.
TEST(BridgeProtocolTest, JsonArraysOfStringsAndNumbers) {
  EXPECT_EQ(ParseJsonArray("[]"), std::vector<Text>{});
  EXPECT_EQ(ParseJsonArray("[0,12.5,-3,\"a,\\\"]b\",\"\"]"),
            (std::vector<Text>{u"0", u"12.5", u"-3", u"a,\"]b", u""}));
  EXPECT_EQ(ParseJsonArray(" [ \"x\" , 1e3 ] "), (std::vector<Text>{u"x", u"1e3"}));
  for (const char* bad : {"", "[", "[1,]", "[1 2]", "[null]", "[[1]]", "{}", "[\"a]", "[1]x"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseJsonArray(bad));
  }
}
