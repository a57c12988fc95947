#include <gtest/gtest.h>

#include "base/command_line.h"
#include "services/argument_quoting.h"
#include "services/command_line_text.h"
#include "support/expect_rows.h"

TEST(ArgumentQuotingTest, QuotesOnlyWhereNeeded) {
  const Row<const char16_t*, const char16_t*> rows[] = {
      {u"plain", u"plain"},
      {u"C:\\dir\\", u"C:\\dir\\"},
      {u"a b", u"\"a b\""},
      {u"tab\there", u"\"tab\there\""},
      {u"", u"\"\""},
      {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
      {u"x y\\", u"\"x y\\\\\""},
      {u"a\\\"b", u"\"a\\\\\\\"b\""},
      {u"a\\\\b c", u"\"a\\\\b c\""},
  };
  ExpectRows([](const char16_t* argument) { return QuoteArgument(argument); }, rows);
}

// Whatever the arguments, their joined form splits back into the same arguments.
TEST(ArgumentQuotingTest, JoinedArgumentsSplitBackUnchanged) {
  std::vector<Text> arguments = {u"tray",      u"",           u"a b",      u"\"",
                                 u"\\\"",      u"end\\",      u"sp ace\\", u"\\\\server\\share",
                                 u"ünïcode 𝄞", u"\"\"quoted", u"x\"\"y",   u"  lead"};
  Text joined;
  for (const Text& a : arguments) joined += QuoteArgument(a) + u" ";
  EXPECT_EQ(SplitArguments(joined), arguments);
}

TEST(ArgumentQuotingTest, SplitsTextsWrittenByHand) {
  using V = std::vector<Text>;
  EXPECT_EQ(SplitArguments(u"  -a   \"b c\"\td "), (V{u"-a", u"b c", u"d"}));
  EXPECT_EQ(SplitArguments(u"a\"b c\"d"), (V{u"ab cd"}));
  EXPECT_EQ(SplitArguments(u"\"unterminated arg"), (V{u"unterminated arg"}));
  EXPECT_EQ(SplitArguments(u""), V{});
}

TEST(ArgumentQuotingTest, ProgramPathIsQuotedButNotEscaped) {
  EXPECT_EQ(JoinCommandLine({u"/opt/My App/morvil", u"tray"}), u"\"/opt/My App/morvil\" tray");
  EXPECT_EQ(JoinCommandLine({u"/opt/morvil/bin\\x", u"a b"}), u"/opt/morvil/bin\\x \"a b\"");
  EXPECT_EQ(JoinCommandLine({}), u"");
}

TEST(GetCommandLineTest, IsThisProcesssCommandLine) {
  std::vector<Text> args = GetCommandLineArgs();
  ASSERT_FALSE(args.empty());
  EXPECT_EQ(GetCommandLine(), JoinCommandLine(args));
  EXPECT_EQ(GetCommandLine().substr(0, args[0].size()), args[0]);
}
