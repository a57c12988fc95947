#include <gtest/gtest.h>

#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "report/client_id.h"
#include "report/install_date.h"
#include "report/normalize_source_id.h"
#include "report/report_encoding.h"
#include "report/report_random.h"
#include "support/expect_rows.h"

namespace {

TEST(ReportRandomTest, EachThreadStartsTheUnseededSequenceAfresh) {
  for (int run = 0; run < 2; ++run) {
    std::thread([] {
      EXPECT_EQ(NextReportRandom(), 41);
      EXPECT_EQ(NextReportRandom(), 18467);
      EXPECT_EQ(NextReportRandom(), 6334);
    }).join();
  }
}

TEST(ReportEncodingTest, EscapesEverythingOutsideTheSafeSetInLowerCaseHex) {
  const Row<Text, Text> rows[] = {
      {u"100%", u"100%"},
      {u"a+b", u"a%2bb"},
      {u"\u00e9", u"%c3%a9"},
      {u"a b&c", u"a%20b%26c"},
      {u"!'()*-./09:AZ_az~", u"!'()*-./09:AZ_az~"},
      {u"\"#$,;<=>?@[\\]^`{|}\x7f\t",
       u"%22%23%24%2c%3b%3c%3d%3e%3f%40%5b%5c%5d%5e%60%7b%7c%7d%7f%09"},
      {u"\U0001F600", u"%f0%9f%98%80"},
      {Text(1, char16_t(0xD800)) + u"x", u"%ed%a0%80x"},  // an unpaired surrogate as itself
  };
  ExpectRows([](const Text& text) { return EncodeReportArgument(text); }, rows);
}

TEST(ReportEncodingTest, EachStageKeepsWholeCharactersAndEscapesWithinItsBuffer) {
  EXPECT_EQ(EncodeReportArgument(Text(2500, u'a')), Text(1999, u'a'));
  // 1000 characters of two bytes: 999 fit the first stage, then 666 escapes fit the second.
  Text expected;
  for (int i = 0; i < 333; ++i) expected += u"%c3%a9";
  EXPECT_EQ(EncodeReportArgument(Text(1000, u'\u00e9')), expected);
  // A cut inside a character's escapes keeps the escapes that fit.
  Text cut = EncodeReportArgument(u"ab" + Text(700, u'\u00e9'));
  EXPECT_EQ(cut.size(), 2u + 665 * 3);
  EXPECT_EQ(cut.substr(cut.size() - 6), u"%a9%c3");
}

TEST(ReportEncodingTest, LibraryEncodesItsCodePageTextTheSameWay) {
  // The test runs in a plain locale, whose code page stands in as UTF-8.
  EXPECT_EQ(EncodeReportArgument(std::string("a b\xC3\xA9")), "a%20b%c3%a9");
  EXPECT_EQ(EncodeReportArgument(std::string("a+b")), "a%2bb");
}

TEST(NormalizeSourceIdTest, TakesTheCodeAfterTheFirstUnderscore) {
  struct Row {
    std::string in;
    std::string out;
  } rows[] = {
      {"setup_1234.exe", "1234"},
      {"pkg_A9-x", "A9"},
      {"_abc", "_abc"},
      {"abc", "abc"},
      {"C:\\x", "0"},
      {"a_", ""},
      {"a_-b1", "-b1"},
      {"a_b_c", "b"},
      {"x\\y_z9!", "z9"},
      {"", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.in);
    EXPECT_EQ(NormalizeSourceId(row.in), row.out);
    EXPECT_EQ(NormalizeSourceId(FromUtf8(row.in)), FromUtf8(row.out));
  }
}

TEST(ClientIdTest, FirstNonZeroAddressInReverseByteOrder) {
  HardwareAddress zero{};
  HardwareAddress a{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  HardwareAddress b{0xFF, 0, 0, 0, 0, 1};
  EXPECT_EQ(FormatClientId({zero, a, b}), "5E4D3C2B1A00");
  EXPECT_EQ(FormatClientId({b, a}), "0100000000FF");
  EXPECT_EQ(FormatClientId({zero}), "");
  EXPECT_EQ(FormatClientId({}), "");
}

TEST(InstallDateTest, LocalDateOfTheFileOrTheFixedFallback) {
  EXPECT_EQ(InstallDateOfFile("/nonexistent/morvil"), "1990-04-12");
  std::string pattern = (std::filesystem::temp_directory_path() / "morvil-date-XXXXXX").string();
  char* path = pattern.data();
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  auto today = [] {
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    char text[16];
    strftime(text, sizeof text, "%Y-%m-%d", &local);
    return std::string(text);
  };
  std::string before = today();
  std::string date = InstallDateOfFile(path);
  EXPECT_TRUE(date == before || date == today()) << date;
  unlink(path);
  EXPECT_EQ(ReadExecutableInstallDate().size(), 10u);
}

}  // namespace
