#include "platform/pipe_client.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/pipe_name.h"

namespace {

// Connects to the socket at `path`, which must be served by `server_uid`. Errors keep the
// errno of connect: ENOENT (no file) and ECONNREFUSED (nobody listens, or every instance is
// busy) tell the caller that the pipe may be served elsewhere.
Result<UniqueFd> Connect(const std::filesystem::path& path, uid_t server_uid) {
  UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket) return Error::FromErrno("socket");
  if (Result<void> r = EnablePassCredentials(socket.get()); !r) return r.error();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
  // Non-blocking, so that a full queue of pending clients fails at once instead of waiting.
  if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return Error::FromErrno("connect " + path.string());
  int flags = ::fcntl(socket.get(), F_GETFL);
  if (flags < 0 || ::fcntl(socket.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
    return Error::FromErrno("fcntl");
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
    return Error::FromErrno("SO_PEERCRED");
  if (peer.uid != server_uid) return Error{EACCES, "pipe served by another user"};
  return socket;
}

// Only a directory that nobody but root can change may hold a socket we take for root's: a
// real directory, root-owned, not writable by group or others; the same for the system
// directory above it.
bool IsRootOnly(const std::filesystem::path& dir) {
  struct stat st {};
  return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == 0 &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

Result<std::unique_ptr<PipeConnection>> Opened(Result<UniqueFd> socket) {
  if (!socket) {
    int e = socket.error().code;
    if (e == ECONNREFUSED || e == EAGAIN) return Error{EBUSY, "no free pipe instance"};
    return socket.error();
  }
  return std::make_unique<PipeConnection>(std::move(*socket));
}

// The system directory's socket of `name`, served by root.
Result<UniqueFd> ConnectSystem(TextView name) {
  Result<std::filesystem::path> system = SystemPipeSocketPath(name);
  if (!system) return system.error();
  if (!IsRootOnly(system->parent_path().parent_path()) || !IsRootOnly(system->parent_path()))
    return Error{ENOENT, "no system pipe directory that only root can change"};
  return Connect(*system, 0);
}

}  // namespace

Result<std::unique_ptr<PipeConnection>> OpenPipe(TextView name) {
  Result<std::filesystem::path> path = PipeSocketPath(name);
  if (!path) return path.error();
  Result<UniqueFd> own = Connect(*path, ::geteuid());
  if (own || (own.error().code != ENOENT && own.error().code != ECONNREFUSED))
    return Opened(std::move(own));
  Result<UniqueFd> served = ConnectSystem(name);
  if (!served && (served.error().code == ENOENT || served.error().code == ECONNREFUSED))
    return Opened(std::move(own));  // served by nobody there either: the user's error stands
  return Opened(std::move(served));
}

Result<std::unique_ptr<PipeConnection>> OpenSystemPipe(TextView name) {
  return Opened(ConnectSystem(name));
}
