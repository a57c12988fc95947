#include "backend_service/listener.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/pipe_connection.h"

namespace {

constexpr int kFirstPassedFd = 3;  // SD_LISTEN_FDS_START
constexpr int kBacklog = 128;

bool IsListeningSeqpacket(int fd) {
  int type = 0;
  int listening = 0;
  socklen_t length = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_SEQPACKET)
    return false;
  length = sizeof listening;
  return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening;
}

}  // namespace

Result<std::optional<UniqueFd>> TakeActivatedSocket() {
  const char* pid = std::getenv("LISTEN_PID");
  const char* fds = std::getenv("LISTEN_FDS");
  const bool ours = pid && fds && std::strtol(pid, nullptr, 10) == ::getpid();
  const long count = ours ? std::strtol(fds, nullptr, 10) : 0;
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  if (count <= 0) return std::optional<UniqueFd>();
  // Only the first socket is the pipe; others would be a unit's mistake and are closed.
  for (long i = 1; i < count; ++i) ::close(kFirstPassedFd + static_cast<int>(i));
  UniqueFd socket(kFirstPassedFd);
  if (!IsListeningSeqpacket(socket.get()))
    return Error{EINVAL, "the passed socket is not a listening sequential-packet socket"};
  if (::fcntl(socket.get(), F_SETFD, FD_CLOEXEC) != 0) return Error::FromErrno("fcntl");
  if (Result<void> r = EnablePassCredentials(socket.get()); !r) return r.error();
  return std::optional<UniqueFd>(std::move(socket));
}

Result<UniqueFd> BindPipeSocket(const std::filesystem::path& path, mode_t mode) {
  UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!socket) return Error::FromErrno("socket");
  if (Result<void> r = EnablePassCredentials(socket.get()); !r) return r.error();
  // The temporary name is as long as the final one at most, so it fits where that one fits.
  std::filesystem::path temporary = path.parent_path() / (".b" + std::to_string(::getpid()));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (temporary.native().size() >= sizeof address.sun_path ||
      path.native().size() >= sizeof address.sun_path)
    return Error{ENAMETOOLONG, path.string()};
  std::memcpy(address.sun_path, temporary.c_str(), temporary.native().size() + 1);
  ::unlink(temporary.c_str());
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return Error::FromErrno("bind " + temporary.string());
  if (::chmod(temporary.c_str(), mode) != 0 || ::listen(socket.get(), kBacklog) != 0 ||
      ::rename(temporary.c_str(), path.c_str()) != 0) {
    Error error = Error::FromErrno("listen at " + path.string());
    ::unlink(temporary.c_str());
    return error;
  }
  return socket;
}

Result<void> MakeSystemDirectory(const std::filesystem::path& dir) {
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
    return Error::FromErrno("mkdir " + dir.string());
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return Error::FromErrno("open " + dir.string());
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Error::FromErrno("fstat " + dir.string());
  if (st.st_uid != 0) return Error{EPERM, dir.string() + " is not root's"};
  if ((st.st_mode & 07777) != 0755 && ::fchmod(fd.get(), 0755) != 0)
    return Error::FromErrno("fchmod " + dir.string());
  return {};
}
