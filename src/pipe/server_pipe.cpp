#include "pipe/server_pipe.h"

#include <memory>

#include "base/diagnostic.h"
#include "pipe/named_pipe_table.h"
#include "pipe/pipe_message.h"
#include "platform/pipe_server_instance.h"

namespace {

using ServerPipeTable = NamedPipeTable<std::unique_ptr<PipeServerInstance>>;

ServerPipeTable& TheServerPipeTable() {
  thread_local ServerPipeTable table;
  return table;
}

PipeServerInstance* FindInstance(const Text& name) {
  std::unique_ptr<PipeServerInstance>* handle = TheServerPipeTable().Find(name);
  return handle ? handle->get() : nullptr;
}

}  // namespace

bool ServerPipeCreate(const Text& name) {
  Result<std::unique_ptr<PipeServerInstance>> instance = PipeServerInstance::Create(name);
  if (!instance) {
    PrintDiagnostic("创建命名管道失败！");
    return false;
  }
  TheServerPipeTable().Record(name, std::move(*instance));
  return true;
}

bool ServerPipeConnect(const Text& name) {
  PipeServerInstance* instance = FindInstance(name);
  if (!instance) return false;
  if (!instance->connect()) {
    PrintDiagnostic("等待客户端连接失败！");
    return false;
  }
  return true;
}

bool ServerPipeRead(const Text& name, Text& out) {
  PipeServerInstance* instance = FindInstance(name);
  if (!instance) return false;
  return ReadPipeMessage(instance->connection(), out);
}

bool ServerPipeRead(const Text& name, Text& out, std::chrono::steady_clock::time_point deadline) {
  PipeServerInstance* instance = FindInstance(name);
  if (!instance) return false;
  PipeConnection* connection = instance->connection();
  if (connection) {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    Result<bool> ready = left.count() > 0 ? connection->wait_readable(left) : Result<bool>(false);
    if (!ready || !*ready) {
      PrintDiagnostic(kReadFailedLine);
      return false;
    }
  }
  return ReadPipeMessage(connection, out);
}

bool ServerPipeWrite(const Text& name, const Text& text) {
  PipeServerInstance* instance = FindInstance(name);
  if (!instance) return false;
  return WritePipeMessage(instance->connection(), text, "写入数据失败！");
}

bool ServerPipeSend(const Text& name, const Text& text, std::chrono::milliseconds timeout) {
  PipeServerInstance* instance = FindInstance(name);
  if (!instance) return false;
  PipeConnection* connection = instance->connection();
  if (connection && connection->write(EncodePipeMessage(text), timeout)) return true;
  PrintDiagnostic("写入数据失败！");
  return false;
}

bool ServerPipeDisconnect(const Text& name) {
  PipeServerInstance* instance = FindInstance(name);
  if (!instance) return false;
  return static_cast<bool>(instance->disconnect());
}
