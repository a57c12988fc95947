#include "platform/runtime_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include "support/temp_dir.h"

namespace fs = std::filesystem;

class RuntimeDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_ = testing_support::MakeTempDir("morvil-rt");
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR")) saved_xdg_ = xdg;
  }
  void TearDown() override {
    // Other tests of this program rely on the runtime directory they were given.
    if (saved_xdg_)
      ::setenv("XDG_RUNTIME_DIR", saved_xdg_->c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
    std::error_code ignored;
    fs::remove_all(parent_, ignored);
  }
  static mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0);
    return st.st_mode & 07777;
  }
  fs::path parent_;
  std::optional<std::string> saved_xdg_;
};

TEST_F(RuntimeDirTest, FollowsXdgRuntimeDirAndMakesItPrivate) {
  ::setenv("XDG_RUNTIME_DIR", parent_.c_str(), 1);
  Result<fs::path> dir = RuntimeDirectory();
  ASSERT_TRUE(dir) << dir.error().context;
  EXPECT_EQ(*dir, parent_ / "morvil");
  EXPECT_EQ(ModeOf(*dir), 0700u);
  // A second call accepts what the first made.
  EXPECT_TRUE(RuntimeDirectory());
}

TEST_F(RuntimeDirTest, RelativeOrMissingXdgRuntimeDirFallsBackToTmp) {
  const fs::path expected = "/tmp/morvil-" + std::to_string(::geteuid());
  // The fallback is the product's fixed place, outside the run's temporary folder: remove it
  // afterwards unless it was there before (rmdir, so nothing of another user of it is lost).
  const bool existed = fs::exists(expected);
  struct RemoveIfMade {
    const fs::path& dir;
    bool keep;
    ~RemoveIfMade() {
      if (!keep) ::rmdir(dir.c_str());
    }
  } remove_if_made{expected, existed};
  for (const char* value : {"relative/dir", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(value ? value : "(unset)");
    if (value)
      ::setenv("XDG_RUNTIME_DIR", value, 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
    Result<fs::path> dir = RuntimeDirectory();
    ASSERT_TRUE(dir) << dir.error().context;
    EXPECT_EQ(*dir, expected);
    EXPECT_EQ(ModeOf(*dir), 0700u);
  }
}

// Pinned: an existing directory of ours with a wider mode is narrowed to 0700.
TEST_F(RuntimeDirTest, NarrowsAWideDirectoryOfOurs) {
  ASSERT_EQ(::mkdir((parent_ / "pipe").c_str(), 0777), 0);
  ASSERT_EQ(::chmod((parent_ / "pipe").c_str(), 0777), 0);
  ASSERT_TRUE(PrivateSubdirectory(parent_, "pipe"));
  EXPECT_EQ(ModeOf(parent_ / "pipe"), 0700u);
}

// Pinned: a directory planted by someone else, or a symbolic link, is refused, so another user
// cannot put or replace a socket of ours.
TEST_F(RuntimeDirTest, RefusesForeignDirectoriesAndLinks) {
  fs::create_directory(parent_ / "target");
  fs::create_directory_symlink(parent_ / "target", parent_ / "link");
  Result<fs::path> linked = PrivateSubdirectory(parent_, "link");
  EXPECT_FALSE(linked);

  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's directory";
  ASSERT_EQ(::mkdir((parent_ / "foreign").c_str(), 0700), 0);
  ASSERT_EQ(::chown((parent_ / "foreign").c_str(), 65534, 65534), 0);
  Result<fs::path> foreign = PrivateSubdirectory(parent_, "foreign");
  ASSERT_FALSE(foreign);
  EXPECT_EQ(foreign.error().code, EPERM);
}
