// Where a client finds a pipe: the user's private directory first, then the system directory,
// which counts only when nobody but root can change it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/pipe_client.h"
#include "platform/pipe_name.h"
#include "platform/pipe_server_instance.h"
#include "support/temp_runtime_dir.h"

namespace {

class PipeLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the system directory is root's";
    system_ = UseTemporaryRuntimeDir() / ("system-" + std::to_string(++counter_));
    std::filesystem::create_directories(system_ / "pipe");
    ::setenv("MORVIL_SYSTEM_DIR", system_.c_str(), 1);
    name_ = TestPipeName();
  }
  void TearDown() override { ::unsetenv("MORVIL_SYSTEM_DIR"); }

  // Listens at the system location of the pipe, as a system service would.
  UniqueFd ServeInSystemDirectory() {
    Result<std::filesystem::path> path = SystemPipeSocketPath(name_);
    EXPECT_TRUE(path);
    UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path->c_str());
    EXPECT_EQ(::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(socket.get(), 8), 0);
    return socket;
  }
  // True when a client waits on `listener`.
  static bool HasClient(const UniqueFd& listener) {
    UniqueFd client(::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    return client.valid();
  }

  static inline int counter_ = 0;
  std::filesystem::path system_;
  Text name_;
};

TEST_F(PipeLookupTest, APipeServedOnlyInTheSystemDirectoryIsFoundThere) {
  UniqueFd listener = ServeInSystemDirectory();
  ::fcntl(listener.get(), F_SETFL, O_NONBLOCK);
  Result<std::unique_ptr<PipeConnection>> client = OpenPipe(name_);
  ASSERT_TRUE(client) << client.error().context;
  EXPECT_TRUE(HasClient(listener));
}

TEST_F(PipeLookupTest, TheUsersOwnPipeComesFirst) {
  UniqueFd listener = ServeInSystemDirectory();
  ::fcntl(listener.get(), F_SETFL, O_NONBLOCK);
  Result<std::unique_ptr<PipeServerInstance>> own = PipeServerInstance::Create(name_);
  ASSERT_TRUE(own);
  Result<std::unique_ptr<PipeConnection>> client = OpenPipe(name_);
  ASSERT_TRUE(client) << client.error().context;
  EXPECT_FALSE(HasClient(listener));
  EXPECT_TRUE((*own)->connect());
}

TEST_F(PipeLookupTest, ASystemDirectoryOthersCouldChangeIsNotTrusted) {
  UniqueFd listener = ServeInSystemDirectory();
  for (const std::filesystem::path& dir : {system_, system_ / "pipe"}) {
    SCOPED_TRACE(dir.string());
    ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    Result<std::unique_ptr<PipeConnection>> client = OpenPipe(name_);
    ASSERT_FALSE(client);
    EXPECT_EQ(client.error().code, ENOENT);
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  }
  EXPECT_TRUE(OpenPipe(name_));
}

TEST_F(PipeLookupTest, NobodyServingAnywhereIsNotFound) {
  Result<std::unique_ptr<PipeConnection>> client = OpenPipe(name_);
  ASSERT_FALSE(client);
  EXPECT_EQ(client.error().code, ENOENT);
}

}  // namespace
