// One connected end of a named pipe (see pipe_name.h), in message mode: every write is one
// message and every read takes one message, whatever its length. Built on an AF_UNIX
// SOCK_SEQPACKET socket with SO_PASSCRED set, so that each message, even an empty one, arrives
// with the sender's credentials: a 0-byte read with credentials is an empty message, one without
// is the peer's hang-up. (poll's POLLRDHUP cannot tell them apart: it is raised as soon as the
// peer has closed, while its last messages may still be waiting.)
//
// Blocking calls; one thread uses a connection at a time, except close(), which may come from
// another thread and wakes a read or flush that waits there.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <span>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"

class PipeConnection {
 public:
  // Takes a connected SOCK_SEQPACKET socket.
  explicit PipeConnection(UniqueFd socket);
  PipeConnection(const PipeConnection&) = delete;
  PipeConnection& operator=(const PipeConnection&) = delete;

  struct ReadResult {
    size_t size = 0;        // bytes stored at the start of the buffer
    bool complete = false;  // false: the message is longer; the next reads return the rest
  };

  // Waits for a message and copies up to buffer.size() bytes of it. A longer message fills the
  // buffer and reports complete = false; its remaining bytes are kept and come with the next
  // reads, first of all. Errors: EPIPE when the peer has hung up and nothing is left; EBADF after
  // close().
  [[nodiscard]] Result<ReadResult> read(std::span<std::byte> buffer);

  // Sends `message` as one message (an empty span is an empty message). Errors: EPIPE when the
  // peer has gone, EMSGSIZE when the message exceeds the socket buffer, EBADF after close().
  [[nodiscard]] Result<void> write(std::span<const std::byte> message);
  // As write(), but fails with ETIMEDOUT when the peer has not made room for the message within
  // `timeout`: a peer that sends but never reads what it is sent fills the socket's buffer.
  [[nodiscard]] Result<void> write(std::span<const std::byte> message,
                                   std::chrono::milliseconds timeout);

  // Returns once the peer has read everything written (the socket's output queue is empty) or
  // has gone. Waits without bound for a peer that is alive but never reads, as the peer would
  // wait for us.
  [[nodiscard]] Result<void> flush();

  // True when a read would not block (a message, a kept remainder or the hang-up), false when
  // `timeout` passed first.
  [[nodiscard]] Result<bool> wait_readable(std::chrono::milliseconds timeout);

  // Ends the connection: the peer sees a hang-up. EBADF when already closed. The descriptor
  // itself is released by the destructor, so a thread still inside a call never sees it reused.
  [[nodiscard]] Result<void> close();
  [[nodiscard]] bool is_open() const { return !closed_.load(); }

 private:
  UniqueFd socket_;
  UniqueFd write_watch_;  // epoll instance for flush(), made on its first use
  std::atomic<bool> closed_{false};
  std::vector<std::byte> rest_;  // unread tail of a message longer than the last read's buffer
  size_t rest_offset_ = 0;
};

// Turns SO_PASSCRED on for `socket`; accepted sockets inherit it from their listener.
[[nodiscard]] Result<void> EnablePassCredentials(int socket);
