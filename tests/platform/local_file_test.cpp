#include "platform/local_file.h"

#include <gtest/gtest.h>

#include "support/temp_home.h"

namespace {

// Sharing is a lock every open of ours honours; a refused create never truncates the file.
TEST(LocalFileTest, SharingModesAndRefusedCreates) {
  TempHome home;
  std::string path = home.path("f");
  TempHome::WriteAll(path, "content");
  LocalFile holder;
  ASSERT_TRUE(holder.OpenPath(path, LocalFile::modeRead | LocalFile::shareExclusive));
  LocalFile other;
  EXPECT_FALSE(other.OpenPath(path, LocalFile::modeRead | LocalFile::shareExclusive));
  EXPECT_FALSE(other.OpenPath(
      path, LocalFile::modeWrite | LocalFile::modeCreate | LocalFile::shareExclusive));
  EXPECT_EQ(TempHome::ReadAll(path), "content");
  EXPECT_TRUE(other.OpenPath(path, LocalFile::modeRead | LocalFile::shareDenyNone));
  holder.Close();

  LocalFile shared1, shared2;
  EXPECT_TRUE(shared1.OpenPath(path, LocalFile::modeRead | LocalFile::shareDenyWrite));
  EXPECT_TRUE(shared2.OpenPath(path, LocalFile::modeRead | LocalFile::shareDenyWrite));
  shared1.Close();
  shared2.Close();

  LocalFile writer;
  ASSERT_TRUE(writer.OpenPath(path, LocalFile::modeWrite | LocalFile::modeCreate));
  EXPECT_EQ(*writer.GetLength(), 0u);
  ASSERT_TRUE(writer.Write("abc", 3));
  EXPECT_EQ(*writer.SeekToEnd(), 3u);
  EXPECT_FALSE(LocalFile().OpenPath(home.root(), LocalFile::modeRead));  // a directory
}

}  // namespace
