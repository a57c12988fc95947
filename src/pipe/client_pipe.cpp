#include "pipe/client_pipe.h"

#include <memory>
#include <mutex>

#include "base/diagnostic.h"
#include "pipe/named_pipe_table.h"
#include "pipe/pipe_message.h"
#include "platform/pipe_client.h"

namespace {

// The lock guards the list only; a connection is used outside it, kept alive by its shared_ptr
// even if another thread replaces the entry meanwhile.
struct ClientPipeTable {
  std::mutex mutex;
  NamedPipeTable<std::shared_ptr<PipeConnection>> table;
};

// Never destroyed: a thread may still use it while the process exits.
ClientPipeTable& TheClientPipeTable() {
  static ClientPipeTable* table = new ClientPipeTable;
  return *table;
}

std::shared_ptr<PipeConnection> FindConnection(const Text& name) {
  ClientPipeTable& t = TheClientPipeTable();
  std::lock_guard lock(t.mutex);
  std::shared_ptr<PipeConnection>* handle = t.table.Find(name);
  return handle ? *handle : nullptr;
}

}  // namespace

bool ClientPipeOpen(const Text& name) {
  Result<std::unique_ptr<PipeConnection>> connection = OpenPipe(name);
  if (!connection) {
    PrintDiagnostic("打开命名管道失败！");
    return false;
  }
  std::shared_ptr<PipeConnection> previous;
  {
    ClientPipeTable& t = TheClientPipeTable();
    std::lock_guard lock(t.mutex);
    if (std::shared_ptr<PipeConnection>* handle = t.table.Find(name)) previous = *handle;
    t.table.Record(name, std::shared_ptr<PipeConnection>(std::move(*connection)));
  }
  if (previous && previous->is_open()) (void)previous->close();
  return true;
}

bool ClientPipeRead(const Text& name, Text& out) {
  std::shared_ptr<PipeConnection> connection = FindConnection(name);
  if (!connection) return false;
  return ReadPipeMessage(connection.get(), out);
}

bool ClientPipeWrite(const Text& name, const Text& text) {
  std::shared_ptr<PipeConnection> connection = FindConnection(name);
  if (!connection) return false;
  return WritePipeMessage(connection.get(), text, "写入数据失败！\n");
}

bool ClientPipeClose(const Text& name) {
  std::shared_ptr<PipeConnection> connection = FindConnection(name);
  if (!connection) return false;
  return static_cast<bool>(connection->close());
}
