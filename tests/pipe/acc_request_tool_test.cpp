// The acc-request stand-in, run as a separate process against the server thread of this process.
#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/path.h"
#include "pipe/acc_server_fixture.h"
#include "support/bin_directory.h"

namespace {

struct ToolRun {
  int exit_code = -1;
  std::string out;
};

ToolRun RunProcess(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  gchar* out = nullptr;
  gint status = 0;
  GError* error = nullptr;
  ToolRun run;
  if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_STDERR_TO_DEV_NULL, nullptr, nullptr,
                    &out, nullptr, &status, &error)) {
    ADD_FAILURE() << error->message;
    g_error_free(error);
    return run;
  }
  run.out = out ? out : "";
  g_free(out);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class AccRequestToolTest : public AccServerTest {
 protected:
  void SetUp() override {
    AccServerTest::SetUp();
    tool_ = (BinDirectory() / "acc-request").string();
    if (!std::filesystem::exists(tool_)) GTEST_SKIP() << tool_ << " not built";
    // Wait until the server listens, so that the tool never meets it between clients.
    ASSERT_TRUE(Connect());
  }
  // The tool opens the pipe once; retry while the server is still finishing a client.
  ToolRun RunTool(std::vector<std::string> args) {
    args.insert(args.begin(), tool_);
    ToolRun run;
    for (int i = 0; i < 100; ++i) {
      run = RunProcess(args);
      if (run.exit_code != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return run;
  }
  std::string tool_;
};

}  // namespace

TEST_F(AccRequestToolTest, PrintsOneLinePerRequest) {
  ToolRun run = RunTool({"--timeout-ms", "300", "RequestAcc,1234,C:\\Games\\FOO.EXE",
                         "requestacc,1,C:\\x\\foo.exe", "RequestAcc,1234,C:\\Games\\baz.exe"});
  EXPECT_EQ(run.exit_code, 3);  // one request got no reply
  EXPECT_EQ(run.out,
            "1,10.0.0.1,8080,tök=en/42\n"
            "(no reply)\n"
            "0,10.0.0.1,8080,tök=en/42\n");
}

// By default the tool asks for itself, by its own executable path.
TEST_F(AccRequestToolTest, DefaultRequestNamesTheToolItself) {
  InsertPair(u"acc.processes", u"other,ACC-REQUEST");
  ToolRun run = RunTool({});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "1,10.0.0.1,8080,tök=en/42\n");
}

TEST_F(AccRequestToolTest, UnservedPipeFailsAtOnce) {
  ToolRun run = RunProcess({tool_, "--pipe", "\\\\.\\pipe\\nobodyServesThis"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
}

// Another user can neither open our pipe nor reach its directory.
TEST_F(AccRequestToolTest, AnotherUserCannotOpenThePipe) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv missing";
  ToolRun run = RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                            tool_, "--timeout-ms", "300"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
}

// A client that holds the server without asking does not keep the tool, which asks as the
// component does, from its answers.
TEST_F(AccRequestToolTest, SilentClientDoesNotKeepTheToolFromItsAnswers) {
  std::unique_ptr<PipeConnection> silent = Connect();
  ASSERT_TRUE(silent);
  if (OpenPipe(AccPipeName)) GTEST_SKIP() << "a second server thread of an earlier test serves";
  ToolRun run = RunProcess({tool_, "--clients", "2", "--seconds", "0.5"});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_NE(run.out.find(", lost 0 "), std::string::npos) << run.out;
}
