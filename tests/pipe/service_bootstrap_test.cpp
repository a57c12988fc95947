// The backend service bootstrap with the stand-ins of the service, its starter and the installer
// as real processes. Each test starts from a stopped service and stops the one it leaves.
#include "pipe/service_bootstrap.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "pipe/pipe_client_methods.h"
#include "pipe/server_pipe.h"
#include "platform/process_handle.h"
#include "services/shell_execute.h"
#include "support/bin_directory.h"
#include "support/temp_home.h"
#include "support/temp_runtime_dir.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr const char* kStandinSettings[] = {
    "MORVIL_STANDIN_CADDOW_EXIT", "MORVIL_STANDIN_CADDOW_HANG", "MORVIL_STANDIN_PELLIX_EXIT"};
constexpr const char* kOpenFailedLine = "打开命名管道失败！";

// Serves the service pipe on a thread of its own for one client, with `serve` run once the
// client is connected; the pipe listens when the constructor returns.
class ServeFromThread {
 public:
  explicit ServeFromThread(std::function<void(const Text&)> serve) {
    std::promise<bool> listening;
    std::future<bool> ready = listening.get_future();
    thread_ = std::thread([serve = std::move(serve), &listening] {
      const Text pipe(BackendServicePipeName);
      bool created = ServerPipeCreate(pipe);
      listening.set_value(created);
      if (!created || !ServerPipeConnect(pipe)) return;
      serve(pipe);
      (void)ServerPipeDisconnect(pipe);
    });
    listening_ = ready.get();
  }
  [[nodiscard]] bool listening() const { return listening_; }
  ~ServeFromThread() { thread_.join(); }
  ServeFromThread(const ServeFromThread&) = delete;
  ServeFromThread& operator=(const ServeFromThread&) = delete;

 private:
  std::thread thread_;
  bool listening_ = false;
};

struct InitRun {
  bool result;
  std::string out;
};

class ServiceBootstrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTemporaryRuntimeDir();
    std::filesystem::path bin = BinDirectory();
    if (!std::filesystem::exists(bin / "Caddow.exe")) GTEST_SKIP() << "stand-ins not built";
    ClearSettings();
    ::setenv("XDG_STATE_HOME", home_.path("state").c_str(), 1);
    // The program directory holds the starter and the installer; "bare" only the installer.
    for (const char* dir : {"app", "bare"}) std::filesystem::create_directory(home_.path(dir));
    for (const char* program : {"Caddow.exe", "morvil-backend-service", "pellix.exe"})
      std::filesystem::create_symlink(bin / program, home_.path(std::string("app/") + program));
    std::filesystem::create_symlink(bin / "pellix.exe", home_.path("bare/pellix.exe"));
    // The installer installs only a library that is there.
    for (const char* dir : {"app", "bare"})
      std::filesystem::create_symlink(bin / "sorvan_lsp.so",
                                      home_.path(std::string(dir) + "/sorvan_lsp.so"));
    ::setenv("XDG_DATA_HOME", home_.path("data").c_str(), 1);
  }
  void TearDown() override {
    StopService();
    ClearSettings();
  }

  static void ClearSettings() {
    for (const char* name : kStandinSettings) ::unsetenv(name);
  }
  Text Dir(const char* name) const { return FromUtf8(home_.path(name)); }
  std::filesystem::path PidFile() const {
    return UseTemporaryRuntimeDir() / "morvil/backend-service.pid";
  }

  InitRun Init(const Text& program_directory) {
    testing::internal::CaptureStdout();
    bool result = InitServiceFrom(program_directory);
    return {result, testing::internal::GetCapturedStdout()};
  }
  void StartService() {
    ASSERT_EQ(ShellExecuteAndWait(u"open", Dir("app") + u"/Caddow.exe", u"-i", 0, 4000), 0);
  }
  void StopService() {
    std::ifstream in(PidFile());
    pid_t pid = 0;
    if (!(in >> pid)) return;
    Result<ProcessHandle> service = ProcessHandle::Open(pid);
    if (service && service->Signal(SIGKILL)) (void)service->WaitEnded(milliseconds(5000));
    std::filesystem::remove(PidFile());
  }
  std::string Installed() const {
    return TempHome::ReadAll(home_.path("state/morvil/lsp-installed"));
  }
  static bool PipeIsOpen() {
    // A write reaches the service only over a connection InitService left open.
    return PipeClientWrite(Text(BackendServicePipeName), u"ping");
  }
  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  TempHome home_;
};

TEST(InstallCommandTest, NamesTheInstallerAndLibraryOfTheProgramDirectory) {
  EXPECT_EQ(InstallCommand(u"/opt/morvil"),
            u"open,/opt/morvil/pellix.exe, -i -a -n \"sorvan_lsp\" -d32 "
            u"\"/opt/morvil/sorvan_lsp.dll\"");
}

TEST_F(ServiceBootstrapTest, ServiceAlreadyUpIsUsedWithoutTheStarter) {
  StartService();
  // "bare" has no starter: running it would fail the call.
  InitRun run = Init(Dir("bare"));
  EXPECT_TRUE(run.result);
  std::string command = ToUtf8(InstallCommand(Dir("bare")));
  EXPECT_EQ(run.out, command + "\nremote run return value - > 0");
  EXPECT_EQ(Installed(), "sorvan_lsp " + home_.path("bare/sorvan_lsp.dll") + "\n");
  EXPECT_FALSE(PipeIsOpen());  // closed after success
}

TEST_F(ServiceBootstrapTest, StarterLeavesARunningServiceAlone) {
  StartService();
  std::string first = TempHome::ReadAll(PidFile());
  StartService();
  EXPECT_EQ(TempHome::ReadAll(PidFile()), first);
}

TEST_F(ServiceBootstrapTest, InstallerTakesOnlyItsOwnArguments) {
  Text installer = Dir("app") + u"/pellix.exe";
  for (const char16_t* arguments :
       {u"-i -a -n sorvan_lsp", u"-i -a -n other -d32 /x/sorvan_lsp.dll",
        u"-i -a -n sorvan_lsp -d32 x/sorvan_lsp.dll", u"-i -a -n sorvan_lsp -d32 /x/other.dll x"}) {
    SCOPED_TRACE(ToUtf8(arguments));
    EXPECT_EQ(ShellExecuteAndWait(u"open", installer, arguments, 0, 5000), 2);
  }
  EXPECT_EQ(Installed(), "");
  // The named library must exist (as sorvan_lsp.so beside the name given); a blank in its
  // directory is fine, the preload list names it through a link of its own.
  EXPECT_EQ(ShellExecuteAndWait(u"open", installer,
                                u"-i -a -n \"sorvan_lsp\" -d32 \"/x y/sorvan_lsp.dll\"", 0, 5000),
            1);
  std::filesystem::create_directory(home_.path("x y"));
  std::filesystem::create_symlink(BinDirectory() / "sorvan_lsp.so",
                                  home_.path("x y/sorvan_lsp.so"));
  Text named = Dir("x y") + u"/sorvan_lsp.dll";
  EXPECT_EQ(ShellExecuteAndWait(u"open", installer,
                                u"-i -a -n \"sorvan_lsp\" -d32 \"" + named + u"\"", 0, 5000),
            0);
  EXPECT_EQ(Installed(), "sorvan_lsp " + ToUtf8(named) + "\n");
}

TEST_F(ServiceBootstrapTest, ServiceDownIsStartedByTheStarter) {
  InitRun run = Init(Dir("app"));
  EXPECT_TRUE(run.result);
  EXPECT_EQ(Count(run.out, kOpenFailedLine), 1u);  // only the first open failed
  EXPECT_NE(run.out.find("remote run return value - > 0"), std::string::npos);
  EXPECT_EQ(Installed(), "sorvan_lsp " + home_.path("app/sorvan_lsp.dll") + "\n");
  EXPECT_TRUE(std::filesystem::exists(PidFile()));  // the service keeps running
}

TEST_F(ServiceBootstrapTest, FailingStarterEndsWithoutASecondOpen) {
  ::setenv("MORVIL_STANDIN_CADDOW_EXIT", "1", 1);
  InitRun run = Init(Dir("app"));
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.out, kOpenFailedLine);
  EXPECT_FALSE(PipeIsOpen());
}

TEST_F(ServiceBootstrapTest, StarterWithoutServiceFailsOnTheSecondOpen) {
  ::setenv("MORVIL_STANDIN_CADDOW_EXIT", "0", 1);  // says success, starts nothing
  InitRun run = Init(Dir("app"));
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.out, std::string(kOpenFailedLine) + kOpenFailedLine);
}

TEST_F(ServiceBootstrapTest, MissingStarterFails) {
  InitRun run = Init(Dir("bare"));
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.out, kOpenFailedLine);
}

TEST_F(ServiceBootstrapTest, StarterStillRunningAfterFourSecondsIsEnded) {
  ::setenv("MORVIL_STANDIN_CADDOW_HANG", "1", 1);
  auto start = steady_clock::now();
  InitRun run = Init(Dir("app"));
  auto took = steady_clock::now() - start;
  EXPECT_FALSE(run.result);
  EXPECT_GE(took, milliseconds(4000));
  EXPECT_LT(took, milliseconds(8000));
  EXPECT_EQ(run.out, kOpenFailedLine);
}

TEST_F(ServiceBootstrapTest, AnswerOtherThanZeroFailsAndLeavesThePipeOpen) {
  // The test serves the pipe: every message is answered "1".
  ServeFromThread served([](const Text& pipe) {
    Text message;
    while (ServerPipeRead(pipe, message))
      if (!ServerPipeWrite(pipe, u"1")) break;
  });
  ASSERT_TRUE(served.listening());
  InitRun run = Init(Dir("app"));
  EXPECT_FALSE(run.result);
  EXPECT_NE(run.out.find("\nremote run return value - > 1"), std::string::npos);
  ASSERT_TRUE(PipeIsOpen());
  EXPECT_EQ(PipeClientRead(Text(BackendServicePipeName)), u"1");  // the answer to "ping"
  EXPECT_TRUE(PipeClientDisconnect(Text(BackendServicePipeName)));
}

TEST_F(ServiceBootstrapTest, InstallerFailureComesBackAsItsExitCode) {
  ::setenv("MORVIL_STANDIN_PELLIX_EXIT", "5", 1);
  InitRun run = Init(Dir("app"));
  EXPECT_FALSE(run.result);
  EXPECT_NE(run.out.find("remote run return value - > 5"), std::string::npos);
  EXPECT_EQ(Installed(), "");
  EXPECT_TRUE(PipeClientDisconnect(Text(BackendServicePipeName)));
}

TEST_F(ServiceBootstrapTest, ServiceClosingWithoutAnswerFailsAndLeavesThePipeListed) {
  // The test serves the pipe: it reads the command and hangs up.
  ServeFromThread served([](const Text& pipe) {
    Text message;
    (void)ServerPipeRead(pipe, message);
  });
  ASSERT_TRUE(served.listening());
  InitRun run = Init(Dir("app"));
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.out, ToUtf8(InstallCommand(Dir("app"))) + "\n" +
                         "读取数据失败！remote run return value - > ");
  // InitService did not close it; the page may still do so.
  EXPECT_TRUE(PipeClientDisconnect(Text(BackendServicePipeName)));
}

TEST_F(ServiceBootstrapTest, CommandThatCannotBeWrittenFailsAndClosesThePipe) {
  StartService();
  // A command far longer than a pipe message may be (the socket's send buffer).
  Text huge_directory = u"/" + Text(300000, u'd');
  InitRun run = Init(huge_directory);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.out.find("remote run return value"), std::string::npos);
  EXPECT_FALSE(PipeIsOpen());
}

TEST_F(ServiceBootstrapTest, ServiceRefusesCommandsOfAnotherForm) {
  StartService();
  const Text pipe(BackendServicePipeName);
  ASSERT_TRUE(PipeClientConnect(pipe));
  for (TextView command : {u"open,/x/other.exe, -i",
                           u"run,/x/pellix.exe, -i -a -n \"sorvan_lsp\" -d32 \"/x/sorvan_lsp.dll\"",
                           u"open,/x/pellix.exe, -i -a -n sorvan_lsp -d32 /x/sorvan_lsp.dll"}) {
    SCOPED_TRACE(ToUtf8(command));
    ASSERT_TRUE(PipeClientWrite(pipe, Text(command)));
    EXPECT_EQ(PipeClientRead(pipe), u"invalid command");
  }
  EXPECT_TRUE(PipeClientDisconnect(pipe));
  EXPECT_EQ(Installed(), "");
}

}  // namespace
