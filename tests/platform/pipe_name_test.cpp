#include "platform/pipe_name.h"

#include <gtest/gtest.h>

#include "support/temp_runtime_dir.h"

TEST(PipeNameTest, FileNames) {
  struct Row {
    const char16_t* name;
    const char* file;  // nullptr: not a pipe name
  } rows[] = {
      {u"\\\\.\\pipe\\brelanPipe", "brelanpipe"},
      {u"\\\\.\\PIPE\\BrelanPipe", "brelanpipe"},
      {u"//./pipe/brelanPipe", "brelanpipe"},
      {u"\\\\.\\pipe\\ÄÖ-Ünïcode", "äö-ünïcode"},
      {u"\\\\.\\pipe\\a\\b/c", "a\\b%2Fc"},
      {u"\\\\.\\pipe\\..", "%2E."},
      {u"\\\\.\\pipe\\50%#x", "50%25%23x"},
      {u"\\\\.\\pipe\\tab\there", "tab%09here"},
      {u"\\\\.\\pipe\\", nullptr},
      {u"brelanPipe", nullptr},
      {u"\\\\server\\pipe\\x", nullptr},
      {u"\\\\.\\pip\\x", nullptr},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    Result<std::string> file = PipeFileName(rows[i].name);
    if (!rows[i].file) {
      ASSERT_FALSE(file);
      EXPECT_EQ(file.error().code, EINVAL);
    } else {
      ASSERT_TRUE(file);
      EXPECT_EQ(*file, rows[i].file);
    }
  }
}

TEST(PipeNameTest, SocketPathIsInThePrivatePipeDirectory) {
  const auto& runtime = UseTemporaryRuntimeDir();
  Result<std::filesystem::path> path = PipeSocketPath(u"\\\\.\\pipe\\Short");
  ASSERT_TRUE(path) << path.error().context;
  EXPECT_EQ(*path, runtime / "morvil" / "pipe" / "short");
}

// Pinned: a name too long for a socket address is hashed; distinct names stay distinct.
TEST(PipeNameTest, LongNamesAreHashed) {
  UseTemporaryRuntimeDir();
  Text a = u"\\\\.\\pipe\\" + Text(200, u'a');
  Text b = u"\\\\.\\pipe\\" + Text(199, u'a') + u"b";
  Result<std::filesystem::path> pa = PipeSocketPath(a);
  Result<std::filesystem::path> pb = PipeSocketPath(b);
  ASSERT_TRUE(pa);
  ASSERT_TRUE(pb);
  EXPECT_EQ(pa->filename().string()[0], '#');
  EXPECT_NE(*pa, *pb);
  EXPECT_LT(pa->native().size(), 108u);
  Result<std::filesystem::path> upper = PipeSocketPath(u"\\\\.\\pipe\\" + Text(200, u'A'));
  ASSERT_TRUE(upper);
  EXPECT_EQ(*upper, *pa);
}
