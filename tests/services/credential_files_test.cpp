// What page script keeps in the product's configuration directory (the proxy token among it) and
// the user's registry store are readable by the user alone, whatever the umask.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/config_directory.h"
#include "services/file_methods.h"
#include "services/registry_methods.h"
#include "support/temp_home.h"

namespace {

unsigned ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
}

Text T(const std::string& s) {
  return FromUtf8(s);
}

class CredentialFilesTest : public testing::Test {
 protected:
  void SetUp() override { old_umask_ = umask(022); }
  void TearDown() override { umask(old_umask_); }
  TempHome home_;
  mode_t old_umask_ = 0;
  const std::string config_ = home_.path("config/morvil");
};

TEST_F(CredentialFilesTest, SettingsWrittenByThePageAreOwnerOnly) {
  // As the main page does it: make the folder, then write the settings with the token.
  ASSERT_TRUE(CreateDirectory(T(config_)));
  EXPECT_EQ(ModeOf(config_), 0700u);
  ASSERT_TRUE(WriteConfig(T(config_ + "/morvil.ini"), u"acc", u"token", u"s3cret"));
  EXPECT_EQ(ModeOf(config_ + "/morvil.ini"), 0600u);
  ASSERT_TRUE(WriteFileContent(T(config_ + "/notes.txt"), u"x"));
  EXPECT_EQ(ModeOf(config_ + "/notes.txt"), 0600u);
  ASSERT_TRUE(CreateDirectory(T(config_ + "/sub")));
  EXPECT_EQ(ModeOf(config_ + "/sub"), 0700u);

  // Elsewhere the umask decides, as before.
  ASSERT_TRUE(WriteConfig(T(home_.path("other.ini")), u"a", u"b", u"c"));
  EXPECT_EQ(ModeOf(home_.path("other.ini")), 0644u);
  ASSERT_TRUE(CreateDirectory(T(home_.path("public"))));
  EXPECT_EQ(ModeOf(home_.path("public")), 0755u);
}

TEST_F(CredentialFilesTest, LooserSettingsFoundAtStartAreTightened) {
  std::filesystem::create_directories(config_);
  chmod(config_.c_str(), 0755);
  TempHome::WriteAll(config_ + "/morvil.ini", "[acc]\ntoken=s3cret\n");
  chmod((config_ + "/morvil.ini").c_str(), 0644);
  // A link in the folder is not followed: what it points at is not the product's to change.
  TempHome::WriteAll(home_.path("shared.txt"), "x");
  chmod(home_.path("shared.txt").c_str(), 0644);
  std::filesystem::create_symlink(home_.path("shared.txt"), config_ + "/link");

  SecureMorvilConfigDirectory();
  EXPECT_EQ(ModeOf(config_), 0700u);
  EXPECT_EQ(ModeOf(config_ + "/morvil.ini"), 0600u);
  EXPECT_EQ(ModeOf(home_.path("shared.txt")), 0644u);
  EXPECT_EQ(ReadConfig(T(config_ + "/morvil.ini"), u"acc", u"token"), u"s3cret");
}

TEST_F(CredentialFilesTest, UserRegistryStoreIsOwnerOnlyAndTightenedWhenFoundLooser) {
  const std::string dir = home_.path("registry");
  chmod(dir.c_str(), 0755);
  EXPECT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\Software\\Morvil", u"Token", u"s3cret"));
  const std::string store = dir + "/user.db";
  EXPECT_EQ(ModeOf(dir), 0700u);
  EXPECT_EQ(ModeOf(store), 0600u);

  chmod(dir.c_str(), 0755);
  chmod(store.c_str(), 0644);
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\Software\\Morvil", u"Token"), u"s3cret");
  EXPECT_EQ(ModeOf(dir), 0700u);
  EXPECT_EQ(ModeOf(store), 0600u);
  for (const char* side : {"-wal", "-shm"}) {
    if (std::filesystem::exists(store + side)) {
      EXPECT_EQ(ModeOf(store + side), 0600u) << side;
    }
  }
}

}  // namespace
