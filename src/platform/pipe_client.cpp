#include "platform/pipe_client.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/pipe_name.h"

Result<std::unique_ptr<PipeConnection>> OpenPipe(TextView name) {
  Result<std::filesystem::path> path = PipeSocketPath(name);
  if (!path) return path.error();
  UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket) return Error::FromErrno("socket");
  if (Result<void> r = EnablePassCredentials(socket.get()); !r) return r.error();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path->c_str(), path->native().size() + 1);
  // Non-blocking, so that a full queue of pending clients fails at once instead of waiting.
  if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int e = errno;
    if (e == ECONNREFUSED || e == EAGAIN) return Error{EBUSY, "no free pipe instance"};
    return Error{e, "connect " + path->string()};
  }
  int flags = ::fcntl(socket.get(), F_GETFL);
  if (flags < 0 || ::fcntl(socket.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
    return Error::FromErrno("fcntl");
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
    return Error::FromErrno("SO_PEERCRED");
  if (peer.uid != ::geteuid()) return Error{EACCES, "pipe served by another user"};
  return std::make_unique<PipeConnection>(std::move(socket));
}
