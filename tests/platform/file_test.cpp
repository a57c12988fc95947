#include "platform/file.h"

#include <gtest/gtest.h>

#include "support/temp_home.h"

namespace {

// Sharing is a lock every open of ours honours; a refused create never truncates the file.
TEST(FileTest, SharingModesAndRefusedCreates) {
  TempHome home;
  std::string path = home.path("f");
  TempHome::WriteAll(path, "content");
  File holder;
  ASSERT_TRUE(holder.OpenPath(path, File::modeRead | File::shareExclusive));
  File other;
  EXPECT_FALSE(other.OpenPath(path, File::modeRead | File::shareExclusive));
  EXPECT_FALSE(other.OpenPath(path, File::modeWrite | File::modeCreate | File::shareExclusive));
  EXPECT_EQ(TempHome::ReadAll(path), "content");
  EXPECT_TRUE(other.OpenPath(path, File::modeRead | File::shareDenyNone));
  holder.Close();

  File shared1, shared2;
  EXPECT_TRUE(shared1.OpenPath(path, File::modeRead | File::shareDenyWrite));
  EXPECT_TRUE(shared2.OpenPath(path, File::modeRead | File::shareDenyWrite));
  shared1.Close();
  shared2.Close();

  File writer;
  ASSERT_TRUE(writer.OpenPath(path, File::modeWrite | File::modeCreate));
  EXPECT_EQ(*writer.GetLength(), 0u);
  ASSERT_TRUE(writer.Write("abc", 3));
  EXPECT_EQ(*writer.SeekToEnd(), 3u);
  EXPECT_FALSE(File().OpenPath(home.root(), File::modeRead));  // a directory
}

}  // namespace
