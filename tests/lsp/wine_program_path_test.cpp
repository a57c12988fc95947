// The program path a process is asked about: its executable, or for a Wine loader the Windows
// program its command line names, in each form the command line takes during a Wine start.
#include "lsp/wine_program_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Arguments as /proc/PID/cmdline holds them: each ended by a NUL.
std::string Cmdline(std::initializer_list<std::string> arguments) {
  std::string bytes;
  for (const std::string& argument : arguments) bytes += argument + '\0';
  return bytes;
}

std::string Ask(const std::string& exe, const std::string& cmdline) {
  char out[256];
  std::memset(out, 0xbd, sizeof out);
  size_t size = ProgramPathToAsk(exe.c_str(), cmdline.data(), cmdline.size(), out, sizeof out);
  if (size == 0) return "<none>";
  EXPECT_EQ(out[size], '\0');
  return std::string(out, size);
}

TEST(WineProgramPathTest, LoadersAreKnownByFileName) {
  for (const char* loader : {"/usr/lib/wine/wine64", "/usr/lib/wine/wine64-preloader",
                             "/opt/proton/files/bin/wine", "wine-preloader"}) {
    SCOPED_TRACE(loader);
    EXPECT_TRUE(IsWineLoader(loader));
  }
  for (const char* other : {"/usr/bin/curl", "/usr/bin/wineserver", "/usr/lib/wine/wine64x",
                            "/home/u/wine64/game", ""}) {
    SCOPED_TRACE(other);
    EXPECT_FALSE(IsWineLoader(other));
  }
}

TEST(WineProgramPathTest, OtherProgramsAskWithTheirExecutable) {
  EXPECT_EQ(Ask("/usr/bin/curl", Cmdline({"curl", "game.exe"})), "/usr/bin/curl");
  EXPECT_EQ(Ask("/usr/bin/curl", ""), "/usr/bin/curl");
}

TEST(WineProgramPathTest, WineProcessesAskWithTheirWindowsProgram) {
  const std::string loader = "/usr/lib/wine/wine64";
  struct Row {
    std::string cmdline;
    std::string expected;
  } rows[] = {
      // Just started by the wine script, and through a preloader.
      {Cmdline({loader, "game.exe", "-windowed"}), ".\\game.exe"},
      {Cmdline({"/usr/lib/wine/wine64-preloader", loader, "C:\\Games\\Game.EXE"}),
       "C:\\Games\\Game.EXE"},
      // Once Wine is up: the program first, the rest padded with NULs.
      {Cmdline({"game.exe", "arg one", "", "", ""}), ".\\game.exe"},
      {Cmdline({"C:\\windows\\system32\\services.exe"}), "C:\\windows\\system32\\services.exe"},
      {Cmdline({"/home/u/Games/launcher.exe", "--skip"}), "/home/u/Games/launcher.exe"},
      // Wine adds ".exe" to a name without an extension.
      {Cmdline({"wine64", "notepad"}), ".\\notepad.exe"},
      {Cmdline({"wine64", "C:\\Tools\\setup"}), "C:\\Tools\\setup.exe"},
      // A last argument without its NUL.
      {loader + '\0' + "game.exe", ".\\game.exe"},
      // No program named: asked as the loader, which is never listed.
      {Cmdline({loader, "--version"}), loader},
      {Cmdline({loader}), loader},
      {Cmdline({loader, "C:\\Games\\"}), loader},
      {"", loader},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(Ask(loader, row.cmdline), row.expected);
  }
}

TEST(WineProgramPathTest, TooSmallABufferGivesNothing) {
  std::string cmdline = Cmdline({"wine64", "game.exe"});
  char out[11];  // ".\game.exe" needs 10 bytes and its NUL
  EXPECT_EQ(ProgramPathToAsk("/usr/bin/wine64", cmdline.data(), cmdline.size(), out, 10), 0u);
  EXPECT_EQ(ProgramPathToAsk("/usr/bin/wine64", cmdline.data(), cmdline.size(), out, 11), 10u);
  EXPECT_STREQ(out, ".\\game.exe");
  EXPECT_EQ(ProgramPathToAsk("/usr/bin/curl", cmdline.data(), cmdline.size(), out, 0), 0u);
  EXPECT_EQ(ProgramPathToAsk("/usr/bin/curl", cmdline.data(), cmdline.size(), out, 13), 0u);
}

}  // namespace
