#include "services/file_methods.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/unique_fd.h"
#include "services/page_path.h"
#include "support/temp_home.h"
#include "support/without_privileges.h"

namespace fs = std::filesystem;

namespace {

class FileMethodsTest : public ::testing::Test {
 protected:
  Text T(const std::string& relative) const { return FromUtf8(home_.path(relative)); }
  std::string P(const std::string& relative) const { return home_.path(relative); }
  void Write(const std::string& relative, const std::string& bytes) const {
    TempHome::WriteAll(P(relative), bytes);
  }
  std::string Read(const std::string& relative) const { return TempHome::ReadAll(P(relative)); }
  TempHome home_;
};

TEST_F(FileMethodsTest, ReadFileContentStopsAtTheFirstZeroByte) {
  Write("empty", "");
  Write("zero", std::string("ab\0cd", 5));
  Write("lead", std::string("\0ab", 3));
  Write("text", "caf\xc3\xa9\n\xe4\xb8\x96");
  EXPECT_EQ(ReadFileContent(T("empty")), u"");
  EXPECT_EQ(ReadFileContent(T("zero")), u"ab");
  EXPECT_EQ(ReadFileContent(T("lead")), u"");
  EXPECT_EQ(ReadFileContent(T("text")), u"caf\u00e9\n\u4e16");
  EXPECT_EQ(ReadFileContent(T("missing")), u"");
  EXPECT_EQ(ReadFileContent(FromUtf8(home_.root())), u"");  // a directory
}

// Bytes that form no character in the code page still read, as U+FFFD each.
TEST_F(FileMethodsTest, ReadFileContentForgivesBadBytes) {
  Write("bad",
        "a\xff"
        "b");
  EXPECT_EQ(ReadFileContent(T("bad")), u"a\ufffdb");
}

// "No sharing": a file that another caller holds under its lock is neither read nor written.
TEST_F(FileMethodsTest, FilesHeldWithoutSharingAreRefused) {
  Write("held", "old");
  UniqueFd holder(open(P("held").c_str(), O_RDONLY));
  ASSERT_EQ(flock(holder.get(), LOCK_EX), 0);
  EXPECT_EQ(ReadFileContent(T("held")), u"");
  EXPECT_FALSE(WriteFileContent(T("held"), u"new"));
  EXPECT_EQ(Read("held"), "old");
  holder.reset();
  EXPECT_EQ(ReadFileContent(T("held")), u"old");
  EXPECT_TRUE(WriteFileContent(T("held"), u"new"));
  EXPECT_EQ(Read("held"), "new");
}

TEST_F(FileMethodsTest, WriteFileContentReplacesTheWholeFile) {
  Write("f", "a much longer old content");
  EXPECT_TRUE(WriteFileContent(T("f"), u"short \u00e9"));
  EXPECT_EQ(Read("f"), "short \xc3\xa9");
  EXPECT_TRUE(WriteFileContent(T("f"), u""));
  EXPECT_EQ(Read("f"), "");
  EXPECT_TRUE(fs::exists(P("f")));
  // Backslashes are separators; a new file is made; nothing is left beside it.
  fs::create_directory(P("d"));
  EXPECT_TRUE(WriteFileContent(FromUtf8(home_.root()) + u"\\d\\new.txt", u"x"));
  EXPECT_EQ(Read("d/new.txt"), "x");
  EXPECT_EQ(std::distance(fs::directory_iterator(P("d")), fs::directory_iterator()), 1);
  EXPECT_FALSE(WriteFileContent(T("missing/dir/f"), u"x"));
  EXPECT_FALSE(fs::exists(P("missing")));
}

// The text is converted before the file is touched: a text without an 8-bit form (a lone
// surrogate) leaves the old content in place instead of an empty file.
TEST_F(FileMethodsTest, UnconvertibleTextLeavesTheFileAsItWas) {
  Write("keep", "precious");
  EXPECT_FALSE(WriteFileContent(T("keep"), Text(u"bad ") + char16_t(0xD800) + u" text"));
  EXPECT_EQ(Read("keep"), "precious");
}

// Permissions, owners' read-only marks and symbolic links survive a replacement.
TEST_F(FileMethodsTest, WriteFileContentKeepsModeAndFollowsLinks) {
  Write("mode", "x");
  chmod(P("mode").c_str(), 0640);
  ASSERT_TRUE(WriteFileContent(T("mode"), u"y"));
  struct stat st {};
  ASSERT_EQ(stat(P("mode").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  Write("target", "t");
  fs::create_symlink("target", P("link"));
  ASSERT_TRUE(WriteFileContent(T("link"), u"through"));
  EXPECT_TRUE(fs::is_symlink(P("link")));
  EXPECT_EQ(Read("target"), "through");

  Write("ro", "read-only");
  chmod(P("ro").c_str(), 0444);
  EXPECT_FALSE(WriteFileContent(T("ro"), u"changed"));
  EXPECT_EQ(Read("ro"), "read-only");
  EXPECT_FALSE(WriteFileContent(FromUtf8(home_.root()), u"x"));  // a directory
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Where a replacement would lose something, the file is written in place: in a folder the user
// may not write, a file with further hard links, someone else's file the user may write.
TEST_F(FileMethodsTest, WriteFileContentWritesInPlaceWhereReplacingWouldLose) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to set up folders and owners";
  fs::create_directory(P("locked"));
  Write("locked/f", "old");
  const ino_t inode = InodeOf(P("locked/f"));
  chmod(P("locked").c_str(), 0555);
  EXPECT_TRUE(RunWithoutPrivileges([&] { return WriteFileContent(T("locked/f"), u"new"); }));
  EXPECT_EQ(Read("locked/f"), "new");
  EXPECT_EQ(InodeOf(P("locked/f")), inode);
  // Text that cannot be converted leaves the file as it was there too; no new file can be made.
  EXPECT_FALSE(RunWithoutPrivileges(
      [&] { return WriteFileContent(T("locked/f"), Text(u"x") + char16_t(0xD800)); }));
  EXPECT_EQ(Read("locked/f"), "new");
  EXPECT_FALSE(RunWithoutPrivileges([&] { return WriteFileContent(T("locked/g"), u"x"); }));

  Write("linked", "old");
  fs::create_hard_link(P("linked"), P("other-name"));
  ASSERT_TRUE(WriteFileContent(T("linked"), u"both names"));
  EXPECT_EQ(Read("other-name"), "both names");

  Write("theirs", "old");
  ASSERT_EQ(chown(P("theirs").c_str(), 65534, 65534), 0);
  chmod(P("theirs").c_str(), 0666);
  EXPECT_TRUE(RunWithoutPrivileges([&] { return WriteFileContent(T("theirs"), u"shared"); }));
  EXPECT_EQ(Read("theirs"), "shared");
  struct stat st {};
  ASSERT_EQ(stat(P("theirs").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(FileMethodsTest, DeleteAndMoveFiles) {
  Write("a", "A");
  Write("b", "B");
  EXPECT_FALSE(MoveFile(T("a"), T("b")));  // never replaces
  EXPECT_EQ(Read("a"), "A");
  EXPECT_EQ(Read("b"), "B");
  EXPECT_TRUE(MoveFile(T("a"), T("c")));
  EXPECT_FALSE(fs::exists(P("a")));
  EXPECT_EQ(Read("c"), "A");
  fs::create_directories(P("dir/sub"));
  EXPECT_TRUE(MoveFile(T("dir"), T("moved")));  // directories move too
  EXPECT_TRUE(fs::is_directory(P("moved/sub")));
  EXPECT_FALSE(MoveFile(T("nothing"), T("d")));

  EXPECT_TRUE(DeleteFile(T("c")));
  EXPECT_FALSE(fs::exists(P("c")));
  EXPECT_FALSE(DeleteFile(T("c")));
  EXPECT_FALSE(DeleteFile(T("moved")));  // a directory
  chmod(P("b").c_str(), 0444);
  EXPECT_FALSE(DeleteFile(T("b")));  // read-only
  EXPECT_TRUE(fs::exists(P("b")));
}

TEST_F(FileMethodsTest, FileExistSearchesWhileFileExistsTestsTheText) {
  Write("report.txt", "");
  Write("README", "");
  Write("br[a]ce", "");
  fs::create_directory(P("folder"));
  struct Row {
    const char* path;
    bool exist;   // FileExist: find-first search
    bool exists;  // FileExists: literal path test
  } rows[] = {
      {"report.txt", true, true},   {"rep*.txt", true, false}, {"report.tx?", true, false},
      {"*.csv", false, false},      {"README.*", true, false}, {"*.*", true, false},
      {"br[a]ce", true, true},      {"br?a?ce", true, false},  {"folder", true, true},
      {"folder/", false, true},     {"fold*", true, false},    {"missing", false, false},
      {"REPORT.TXT", false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(FileExist(T(row.path)), row.exist);
    EXPECT_EQ(FileExists(T(row.path)), row.exists);
  }
  EXPECT_FALSE(FileExist(u""));
  EXPECT_FALSE(FileExists(u""));
}

TEST_F(FileMethodsTest, DirectoryExistRefusesATrailingSeparator) {
  fs::create_directory(P("dir"));
  Write("file", "");
  EXPECT_TRUE(DirectoryExist(T("dir")));
  EXPECT_FALSE(DirectoryExist(T("dir/")));
  EXPECT_FALSE(DirectoryExist(T("dir") + u"\\"));
  EXPECT_FALSE(DirectoryExist(T("file")));
  EXPECT_FALSE(DirectoryExist(T("missing")));
  EXPECT_TRUE(DirectoryExist(T("di?")));
  EXPECT_FALSE(DirectoryExist(T("fil*")));
  EXPECT_FALSE(DirectoryExist(u"/"));  // the root too, as the platform refuses a drive root
}

TEST_F(FileMethodsTest, CreateDirectoryMakesParentsAndReportsTheLastOne) {
  EXPECT_TRUE(CreateDirectory(T("x") + u"\\y\\z"));
  EXPECT_TRUE(fs::is_directory(P("x/y/z")));
  EXPECT_FALSE(CreateDirectory(T("x/y/z")));  // exists now
  EXPECT_TRUE(CreateDirectory(T("x/y/w/")));
  EXPECT_TRUE(fs::is_directory(P("x/y/w")));
  EXPECT_FALSE(CreateDirectory(u""));
  Write("plain", "");
  EXPECT_FALSE(CreateDirectory(T("plain/sub")));
}

TEST_F(FileMethodsTest, DeleteDirectoryTakesEveryPathSpelling) {
  const Text spellings[] = {T("x") + u"\\", T("x/"), T("x"), T("x").replace(0, 1, u"\\")};
  for (size_t i = 0; i < std::size(spellings); ++i) {
    SCOPED_TRACE(i);
    fs::create_directories(P("x/a/b"));
    Write("x/f", "1");
    Write("x/a/g", "2");
    Write("x/.hidden", "3");
    EXPECT_TRUE(DeleteDirectory(spellings[i]));
    EXPECT_FALSE(fs::exists(P("x")));
  }
  EXPECT_FALSE(DeleteDirectory(T("x")));  // missing
  EXPECT_FALSE(DeleteDirectory(u""));
}

// A read-only file stops the deletion; it and the directories above it stay.
TEST_F(FileMethodsTest, ReadOnlyFileStopsDeleteDirectory) {
  fs::create_directories(P("t/keep"));
  Write("t/keep/ro", "r");
  chmod(P("t/keep/ro").c_str(), 0444);
  EXPECT_FALSE(DeleteDirectory(T("t")));
  EXPECT_TRUE(fs::exists(P("t/keep/ro")));
  EXPECT_TRUE(fs::is_directory(P("t/keep")));
}

// A symbolic link inside the tree goes; what it points at stays.
TEST_F(FileMethodsTest, DeleteDirectoryNeverFollowsLinks) {
  fs::create_directories(P("outside"));
  Write("outside/precious", "p");
  fs::create_directories(P("t"));
  fs::create_directory_symlink(P("outside"), P("t/link"));
  EXPECT_TRUE(DeleteDirectory(T("t")));
  EXPECT_FALSE(fs::exists(P("t")));
  EXPECT_EQ(Read("outside/precious"), "p");
}

// The platform's file class and search take paths shorter than 260 units.
TEST_F(FileMethodsTest, PathsOf260UnitsAreRefused) {
  std::string base = home_.root() + "/";
  std::string dir = base + std::string(200, 'd');
  fs::create_directory(dir);
  std::string fits = dir + "/" + std::string(259 - dir.size() - 1, 'f');
  std::string too_long = dir + "/" + std::string(260 - dir.size() - 1, 'g');
  ASSERT_EQ(fits.size(), 259u);
  ASSERT_EQ(too_long.size(), 260u);
  EXPECT_TRUE(WriteFileContent(FromUtf8(fits), u"ok"));
  EXPECT_EQ(ReadFileContent(FromUtf8(fits)), u"ok");
  EXPECT_TRUE(FileExist(FromUtf8(fits)));
  TempHome::WriteAll(too_long, "long");
  EXPECT_FALSE(WriteFileContent(FromUtf8(too_long), u"no"));
  EXPECT_EQ(ReadFileContent(FromUtf8(too_long)), u"");
  EXPECT_FALSE(FileExist(FromUtf8(too_long)));
  EXPECT_TRUE(FileExists(FromUtf8(too_long)));
}

TEST(NormalizeDirPathTest, TurnsBackslashesAndDropsOneTrailingSeparator) {
  EXPECT_EQ(NormalizeDirPath(u"C:\\x\\"), u"C:/x");
  EXPECT_EQ(NormalizeDirPath(u"C:/x"), u"C:/x");
  EXPECT_EQ(NormalizeDirPath(u"/a/b//"), u"/a/b/");
  EXPECT_EQ(NormalizeDirPath(u"/"), u"");
  EXPECT_EQ(NormalizeDirPath(u""), u"");
}

}  // namespace
