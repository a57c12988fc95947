// Asking the acceleration pipe as the preloaded library does, against a server of the test's own
// that ends connections without answering.
#include "lsp/acc_query.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "support/temp_runtime_dir.h"

namespace {

std::vector<uint8_t> Utf16(std::string_view ascii) {
  std::vector<uint8_t> bytes;
  for (char c : ascii) bytes.insert(bytes.end(), {static_cast<uint8_t>(c), 0});
  return bytes;
}

// The user's acceleration pipe, listening; nobody accepts until the test does.
UniqueFd ListenOnThePipe() {
  const std::filesystem::path pipe_dir = UseTemporaryRuntimeDir() / "morvil" / "pipe";
  ::mkdir(pipe_dir.parent_path().c_str(), 0700);
  ::mkdir(pipe_dir.c_str(), 0700);
  const std::string path = (pipe_dir / "brelanpipe").string();
  ::unlink(path.c_str());
  UniqueFd listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (!listener || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) ||
      ::listen(listener.get(), 8))
    ADD_FAILURE() << "cannot listen on " << path << ": " << std::strerror(errno);
  return listener;
}

// Whether a client is waiting to be taken within `ms`.
bool ClientWaiting(int listener, int ms) {
  pollfd p{listener, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1;
}

// Takes the next client and its request; answers `reply`, or hangs up when it is empty.
void ServeOne(int listener, const std::vector<uint8_t>& reply) {
  ASSERT_TRUE(ClientWaiting(listener, 10000)) << "nobody asked";
  UniqueFd client(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_TRUE(client);
  std::array<uint8_t, 4096> request;
  ASSERT_GT(::recv(client.get(), request.data(), request.size(), 0), 0);
  if (!reply.empty()) {
    ASSERT_EQ(::send(client.get(), reply.data(), reply.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(reply.size()));
  }
}

}  // namespace

// A server ends a connection whose request came too late; the library asks once more on a new
// connection, and only once.
TEST(AccQueryTest, AConnectionEndedUnansweredIsAskedOnceMore) {
  UniqueFd listener = ListenOnThePipe();
  const std::vector<uint8_t> request = Utf16("RequestAcc,1,/usr/games/foo");
  const std::vector<uint8_t> reply = Utf16("1,10.0.0.1,8080,token");
  std::array<uint8_t, 4096> answer;
  size_t size = 0;

  std::thread server([&] {
    ServeOne(listener.get(), {});
    ServeOne(listener.get(), reply);
  });
  EXPECT_EQ(AskAccPipe(request, answer, size), AskResult::kAnswered);
  server.join();
  EXPECT_EQ(std::vector<uint8_t>(answer.begin(), answer.begin() + static_cast<ptrdiff_t>(size)),
            reply);

  server = std::thread([&] {
    ServeOne(listener.get(), {});
    ServeOne(listener.get(), {});
  });
  EXPECT_EQ(AskAccPipe(request, answer, size), AskResult::kNoReply);
  server.join();
  EXPECT_FALSE(ClientWaiting(listener.get(), 0)) << "asked a third time";
}
