// Documents and URLs go to the desktop's default handler. The handlers come from a data tree of
// the test's own: GLib reads the XDG directories once per process, so the tree is set up before
// GIO is first used and shared by every test here.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "services/shell_execute.h"
#include "services/shell_start.h"
#include "support/child_processes.h"
#include "support/temp_dir.h"

namespace {

// A viewer for text/plain (text files) and the scheme "morvil-test", each writing what it was
// given to a file of its own; no other handler exists.
class DefaultHandlerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new std::string(testing_support::MakeTempDir("morvil-handlers"));
    std::string apps = *root_ + "/data/applications";
    std::filesystem::create_directories(apps);
    WriteScript(*root_ + "/viewer.sh", "echo \"$1\" > \"" + *root_ + "/viewed.txt\"");
    std::ofstream(apps + "/morvil-test-viewer.desktop")
        << "[Desktop Entry]\nType=Application\nName=Viewer\nExec=" << *root_
        << "/viewer.sh %u\nMimeType=text/plain;x-scheme-handler/morvil-test;\n";
    std::ofstream(apps + "/mimeapps.list")
        << "[Default Applications]\ntext/plain=morvil-test-viewer.desktop\n"
        << "x-scheme-handler/morvil-test=morvil-test-viewer.desktop\n";
    ::setenv("XDG_DATA_HOME", (*root_ + "/data").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (*root_ + "/none").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (*root_ + "/config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (*root_ + "/none").c_str(), 1);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(*root_, ignored);
  }
  void SetUp() override { std::filesystem::remove(*root_ + "/viewed.txt"); }

  static std::string Viewed() { return WaitForFile(*root_ + "/viewed.txt"); }

  static std::string* root_;
};

std::string* DefaultHandlerTest::root_ = nullptr;

TEST_F(DefaultHandlerTest, DocumentOpensWithItsHandler) {
  std::string document = *root_ + "/notes.txt";
  std::ofstream(document) << "hello\n";
  EXPECT_EQ(ShellExecute(FromUtf8(document), u"", 1), kShellStarted);
  std::string viewed = Viewed();
  EXPECT_TRUE(viewed == document + "\n" || viewed == "file://" + document + "\n") << viewed;
  // Nothing of ours to wait for: the handler is not our child.
  std::filesystem::remove(*root_ + "/viewed.txt");
  EXPECT_EQ(ShellExecuteAndWait(u"open", FromUtf8(document), u"", 1, 5000), kShellNoProcess);
  EXPECT_NE(Viewed(), "");
}

TEST_F(DefaultHandlerTest, UrlOpensWithTheSchemeHandler) {
  EXPECT_EQ(ShellExecute(u"morvil-test://host/page?q=1", u"", 1), kShellStarted);
  EXPECT_EQ(Viewed(), "morvil-test://host/page?q=1\n");
}

TEST_F(DefaultHandlerTest, NoHandlerIsNoAssociation) {
  EXPECT_EQ(ShellExecute(u"morvil-unhandled:abc", u"", 1), kShellNoAssociation);
  std::string image = *root_ + "/picture.png";
  std::ofstream(image) << "\x89PNG\r\n\x1a\n";
  EXPECT_EQ(ShellExecute(FromUtf8(image), u"", 1), kShellNoAssociation);
}

}  // namespace
