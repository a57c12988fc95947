// Asks the user's acceleration pipe about the user's programs, as the preloaded library does:
// "RequestAcc,<pid>,<path>", answered "<0|1>,<server>,<port>,<token>". The pipe is the user's
// socket <runtime dir>/morvil/pipe/brelanpipe; before connecting, the component checks that
// the directories on the way and the socket belong to the user and are no links; it connects
// with the user's effective user id (the pipe serves only its own user, and the user's rights
// decide whether the socket may be reached), and checks after connecting that the server runs
// as the user. Not thread-safe: changes the calling thread's credentials for the connect.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/unique_fd.h"
#include "lsp/acc_reply.h"

class AccPipe {
 public:
  AccPipe(uid_t uid, std::string runtime_dir) : uid_(uid), runtime_dir_(std::move(runtime_dir)) {}

  // Connects for a series of questions; false when the pipe cannot be reached (morvil is not
  // running, or the socket is not the user's). A busy pipe is retried for a short while.
  [[nodiscard]] bool Open();
  void Close() { fd_.reset(); }

  // kSkip: no usable answer about this process (a path that cannot be asked about, a reply
  // too long to read); nothing is to change.
  enum class Answer { kAccelerate, kLeave, kSkip, kNoAnswer };
  // Asks about one process. `reply` holds the proxy whenever the answer named a usable one
  // (port 0 otherwise), with kLeave too. A connection the server has ended is opened again for
  // one more try. kNoAnswer when the connection failed (it is closed).
  [[nodiscard]] Answer Ask(pid_t pid, const std::string& path, AccReply& reply);

 private:
  enum class Exchange { kReplied, kHungUp, kNoReply };
  // One request and its reply on the open connection; `got` is the reply's whole length.
  [[nodiscard]] Exchange Send(std::span<const uint8_t> request, std::span<uint8_t> answer,
                              ssize_t& got);
  [[nodiscard]] std::optional<std::string> SocketPath() const;
  uid_t uid_;
  std::string runtime_dir_;
  UniqueFd fd_;
};
