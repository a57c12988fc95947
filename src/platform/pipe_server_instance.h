// One server instance of a named pipe (see pipe_name.h): waits for a client, serves it through
// a PipeConnection, disconnects it and waits for the next. Several instances of one name may live
// in a process (each thread serving its own); a client is handed to one free instance, and while
// none is free new clients are refused at once, so a client never sits connected to an instance
// that nobody will serve. A client that comes after the instance was created but before connect()
// is kept and served by that connect(). Clients of other users are never served.
//
// Not thread-safe: one thread uses an instance.
#pragma once

#include <memory>

#include "base/result.h"
#include "base/text.h"
#include "platform/pipe_connection.h"

class PipeEndpoint;

class PipeServerInstance {
 public:
  // A free instance of the pipe `name` (`\\.\pipe\NAME`), listening from now on.
  [[nodiscard]] static Result<std::unique_ptr<PipeServerInstance>> Create(TextView name);
  ~PipeServerInstance();
  PipeServerInstance(const PipeServerInstance&) = delete;
  PipeServerInstance& operator=(const PipeServerInstance&) = delete;

  // Waits until a client connects. EISCONN when a client is already connected.
  [[nodiscard]] Result<void> connect();
  // Ends the current client's connection and makes the instance free again. ENOTCONN when no
  // client is connected.
  [[nodiscard]] Result<void> disconnect();
  // The connected client, or nullptr.
  [[nodiscard]] PipeConnection* connection() { return connection_.get(); }

 private:
  explicit PipeServerInstance(std::shared_ptr<PipeEndpoint> endpoint);

  std::shared_ptr<PipeEndpoint> endpoint_;
  std::unique_ptr<PipeConnection> connection_;
  bool free_ = true;  // counted as free by the endpoint
};
