#include "backend_service/sessions.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <array>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/unique_fd.h"
#include "pipe/pipe_message.h"
#include "platform/pipe_connection.h"

namespace {

constexpr size_t kAnswerUnits = kPipeReadLimit / sizeof(char16_t);

// Connections counted per user and in all.
class ClientCount {
 public:
  bool TryAdd(uid_t uid) {
    std::lock_guard lock(mutex_);
    if (all_ >= kClientsInAll || per_user_[uid] >= kClientsPerUser) return false;
    ++per_user_[uid];
    ++all_;
    return true;
  }
  void Remove(uid_t uid) {
    std::lock_guard lock(mutex_);
    if (--per_user_[uid] == 0) per_user_.erase(uid);
    --all_;
  }
  int all() {
    std::lock_guard lock(mutex_);
    return all_;
  }

 private:
  std::mutex mutex_;
  std::map<uid_t, int> per_user_;
  int all_ = 0;
};

ClientCount& Clients() {
  static ClientCount count;
  return count;
}

void Session(UniqueFd socket, Caller caller, CommandHandler& handler, ClientCount& count) {
  timeval send_limit{kSendLimit.count(), 0};
  ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
  PipeConnection connection(std::move(socket));
  std::array<std::byte, kPipeReadLimit> buffer;
  for (;;) {
    Result<bool> ready = connection.wait_readable(kIdleLimit);
    if (!ready || !*ready) break;
    Result<PipeConnection::ReadResult> read = connection.read(buffer);
    if (!read) break;
    // A message longer than any command is refused, and its sender with it.
    if (!read->complete) {
      (void)connection.write(EncodePipeMessage(kInvalidCommand));
      break;
    }
    Text message = DecodePipeMessage(std::span(buffer).first(read->size));
    Text answer = handler.Handle(message, caller, kAnswerUnits);
    if (!connection.write(EncodePipeMessage(answer))) break;
  }
  count.Remove(caller.uid);
}

}  // namespace

int ActiveClients() {
  return Clients().all();
}

void ServeClients(int listener, long long only_uid, CommandHandler& handler) {
  ClientCount& count = Clients();
  for (;;) {
    UniqueFd client(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) {
      // Out of descriptors or memory: wait a little for clients to go rather than spin.
      if (errno != EINTR && errno != ECONNABORTED) ::poll(nullptr, 0, 100);
      continue;
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(client.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) continue;
    if (only_uid >= 0 && static_cast<long long>(peer.uid) != only_uid) continue;
    if (!count.TryAdd(peer.uid)) continue;
    Caller caller{peer.pid, peer.uid, peer.gid};
    try {
      std::thread(Session, std::move(client), caller, std::ref(handler), std::ref(count)).detach();
    } catch (const std::system_error&) {
      count.Remove(peer.uid);  // no thread to be had: the client's connection is closed
    }
  }
}
