#include "kernel_mode/acc_pipe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kBusyRetryMs = 250;
constexpr int kReplyWaitMs = 1000;

// Takes the user's effective user id for the calling thread only (the raw system call, not the
// C library's, which would change every thread): the pipe serves only its own user, who must
// also be allowed to reach the socket. Gives root's back on destruction.
class AsUser {
 public:
  explicit AsUser(uid_t uid) : ok_(::syscall(SYS_setresuid, -1, uid, -1) == 0) {}
  ~AsUser() {
    if (ok_ && ::syscall(SYS_setresuid, -1, 0, -1) != 0) ::abort();  // never go on as the user
  }
  [[nodiscard]] bool ok() const { return ok_; }

 private:
  bool ok_;
};

bool OwnedBy(const std::string& path, uid_t uid, bool directory) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || st.st_uid != uid) return false;
  return directory ? S_ISDIR(st.st_mode) : S_ISSOCK(st.st_mode);
}

}  // namespace

std::optional<std::string> AccPipe::SocketPath() const {
  if (runtime_dir_.empty() || runtime_dir_[0] != '/') return std::nullopt;
  const std::string morvil = runtime_dir_ + "/morvil";
  const std::string pipe = morvil + "/pipe";
  const std::string socket = pipe + "/brelanpipe";
  if (!OwnedBy(runtime_dir_, uid_, true) || !OwnedBy(morvil, uid_, true) ||
      !OwnedBy(pipe, uid_, true) || !OwnedBy(socket, uid_, false) ||
      socket.size() >= sizeof(sockaddr_un::sun_path))
    return std::nullopt;
  return socket;
}

bool AccPipe::Open() {
  fd_.reset();
  std::optional<std::string> path = SocketPath();
  if (!path) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path->copy(address.sun_path, path->size());
  for (int waited = 0;; waited += 5) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd) return false;
    int connected = -1;
    {
      AsUser user(uid_);
      if (!user.ok()) return false;
      connected = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (connected == 0) {
      ucred peer{};
      socklen_t length = sizeof peer;
      if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != uid_)
        return false;
      fd_ = std::move(fd);
      return true;
    }
    // Refused: the server's one instance is busy with another client.
    if ((errno != ECONNREFUSED && errno != EAGAIN) || waited >= kBusyRetryMs) return false;
    timespec pause{0, 5 * 1000000L};
    ::nanosleep(&pause, nullptr);
  }
}

AccPipe::Exchange AccPipe::Send(std::span<const uint8_t> request, std::span<uint8_t> answer,
                                ssize_t& got) {
  if (::send(fd_.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size()))
    return Exchange::kHungUp;
  pollfd wait{fd_.get(), POLLIN, 0};
  if (::poll(&wait, 1, kReplyWaitMs) != 1) return Exchange::kNoReply;
  got = ::recv(fd_.get(), answer.data(), answer.size(), MSG_DONTWAIT | MSG_TRUNC);
  // A reply is never empty: nothing to read is the server's hang-up.
  return got > 0 ? Exchange::kReplied : Exchange::kHungUp;
}

AccPipe::Answer AccPipe::Ask(pid_t pid, const std::string& path, AccReply& reply) {
  if (!fd_) return Answer::kNoAnswer;
  uint8_t request[2 * 4096 + 64];
  size_t size = EncodeAccRequest(request, pid, path);
  if (size == 0) return Answer::kSkip;  // a path that cannot be asked about (too long, not UTF-8)
  uint8_t answer[4096];
  ssize_t got = 0;
  // The server ends a connection that sends no request for a short while, which one kept open
  // while the component moved processes or loaded rules may meet: ask once more on a new one.
  Exchange exchange = Send({request, size}, answer, got);
  if (exchange == Exchange::kHungUp && Open()) exchange = Send({request, size}, answer, got);
  if (exchange != Exchange::kReplied) {
    fd_.reset();
    return Answer::kNoAnswer;
  }
  if (static_cast<size_t>(got) > sizeof answer) return Answer::kSkip;
  std::span<uint8_t> bytes(answer, static_cast<size_t>(got));
  if (ParseAccReply(bytes, reply)) return Answer::kAccelerate;
  // A "0" answer carries the proxy too; it is read the same way.
  if (bytes.size() >= 2 && bytes[0] == '0' && bytes[1] == 0) {
    bytes[0] = '1';
    if (!ParseAccReply(bytes, reply)) reply = AccReply{};
    reply.accelerate = false;
  }
  return Answer::kLeave;
}
