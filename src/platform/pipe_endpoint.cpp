#include "platform/pipe_endpoint.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <string>

#include "platform/pipe_connection.h"

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::filesystem::path, std::weak_ptr<PipeEndpoint>> endpoints;
};

// Never destroyed: a server thread may still be running while the process exits.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

// Only root could connect as another user; such a connection is not ours to serve.
bool IsOwnUser(int client) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return ::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
         peer.uid == ::geteuid();
}

// A short name beside `path` that no other listener of this or another process binds at the
// same time (short, so that it fits wherever the pipe's own path does).
std::string TemporaryName(const std::filesystem::path& path) {
  static std::atomic<unsigned long> counter{0};
  return (path.parent_path() /
          (".new." + std::to_string(::getpid()) + "." + std::to_string(++counter)))
      .native();
}

}  // namespace

Result<std::shared_ptr<PipeEndpoint>> PipeEndpoint::AddFreeInstance(
    const std::filesystem::path& path) {
  std::shared_ptr<PipeEndpoint> endpoint;
  {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    endpoint = registry.endpoints[path].lock();
    if (!endpoint) {
      endpoint = std::make_shared<PipeEndpoint>(path);
      registry.endpoints[path] = endpoint;
    }
  }
  std::lock_guard lock(endpoint->mutex_);
  ++endpoint->free_;
  if (Result<void> r = endpoint->update_listening_locked(); !r) {
    --endpoint->free_;
    return r.error();
  }
  return endpoint;
}

PipeEndpoint::~PipeEndpoint() {
  stop_listening_locked();
  struct stat st {};
  if (bound_inode_ != 0 && ::lstat(path_.c_str(), &st) == 0 && st.st_ino == bound_inode_)
    ::unlink(path_.c_str());
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.endpoints.find(path_);
  if (it != registry.endpoints.end() && it->second.expired()) registry.endpoints.erase(it);
}

Result<void> PipeEndpoint::update_listening_locked() {
  // Room for one pending client per free instance that has none waiting yet; listen's backlog
  // counts one more than given.
  const int room = free_ - static_cast<int>(waiting_.size());
  if (room <= 0) {
    stop_listening_locked();
    return {};
  }
  if (listener_) {
    if (::listen(listener_->get(), room - 1) != 0) return Error::FromErrno("listen");
    return {};
  }
  UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!socket) return Error::FromErrno("socket");
  if (Result<void> r = EnablePassCredentials(socket.get()); !r) return r;
  // The new socket is bound under a name of its own and then renamed over the pipe's path, which
  // replaces the old file in one step: a client never finds the path missing, only (while the
  // instances were busy) a socket that refuses it.
  const std::string& native = path_.native();
  const std::string temporary = TemporaryName(path_);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (temporary.size() >= sizeof address.sun_path) return Error{ENAMETOOLONG, native};
  std::memcpy(address.sun_path, temporary.c_str(), temporary.size() + 1);
  if (::unlink(temporary.c_str()) != 0 && errno != ENOENT)
    return Error::FromErrno("unlink " + temporary);
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return Error::FromErrno("bind " + temporary);
  struct stat st {};
  if (::chmod(temporary.c_str(), 0600) != 0 || ::lstat(temporary.c_str(), &st) != 0 ||
      ::listen(socket.get(), room - 1) != 0 || ::rename(temporary.c_str(), native.c_str()) != 0) {
    Error error = Error::FromErrno("listen on " + native);
    ::unlink(temporary.c_str());
    return error;
  }
  bound_inode_ = st.st_ino;
  listener_ = std::make_shared<UniqueFd>(std::move(socket));
  return {};
}

void PipeEndpoint::stop_listening_locked() {
  if (!listener_) return;
  // Shutting the listener's read side makes every later connect fail at once (the kernel checks
  // it under the listener's lock), so no client can slip in between the drain below and the
  // close. Clients that connected before are already past their open: keep them for the next
  // free instance rather than drop them with the listener.
  const int fd = listener_->get();
  ::shutdown(fd, SHUT_RD);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  for (;;) {
    UniqueFd client(::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) break;
    if (IsOwnUser(client.get())) waiting_.push_back(std::move(client));
  }
  listener_.reset();
}

Result<UniqueFd> PipeEndpoint::accept() {
  for (;;) {
    std::shared_ptr<UniqueFd> listener;
    {
      std::lock_guard lock(mutex_);
      if (!waiting_.empty()) {
        UniqueFd client = std::move(waiting_.front());
        waiting_.pop_front();
        --free_;
        if (Result<void> r = update_listening_locked(); !r) return r.error();
        return client;
      }
      listener = listener_;
    }
    if (!listener) return Error{EBADF, "pipe instance is not free"};
    UniqueFd client(::accept4(listener->get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return Error::FromErrno("accept4");
    }
    if (!IsOwnUser(client.get())) continue;
    std::lock_guard lock(mutex_);
    --free_;
    if (Result<void> r = update_listening_locked(); !r) return r.error();
    return client;
  }
}

Result<void> PipeEndpoint::instance_freed() {
  std::lock_guard lock(mutex_);
  ++free_;
  if (Result<void> r = update_listening_locked(); !r) {
    --free_;
    return r;
  }
  return {};
}

void PipeEndpoint::remove_instance(bool was_free) {
  std::lock_guard lock(mutex_);
  if (!was_free) return;
  --free_;
  (void)update_listening_locked();
}
