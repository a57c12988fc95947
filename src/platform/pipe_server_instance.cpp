#include "platform/pipe_server_instance.h"

#include "platform/pipe_endpoint.h"
#include "platform/pipe_name.h"

Result<std::unique_ptr<PipeServerInstance>> PipeServerInstance::Create(TextView name) {
  Result<std::filesystem::path> path = PipeSocketPath(name);
  if (!path) return path.error();
  Result<std::shared_ptr<PipeEndpoint>> endpoint = PipeEndpoint::AddFreeInstance(*path);
  if (!endpoint) return endpoint.error();
  return std::unique_ptr<PipeServerInstance>(new PipeServerInstance(std::move(*endpoint)));
}

PipeServerInstance::PipeServerInstance(std::shared_ptr<PipeEndpoint> endpoint)
    : endpoint_(std::move(endpoint)) {}

PipeServerInstance::~PipeServerInstance() {
  connection_.reset();
  endpoint_->remove_instance(free_);
}

Result<void> PipeServerInstance::connect() {
  if (connection_) return Error{EISCONN, "pipe instance already connected"};
  if (!free_) {
    // An earlier disconnect could not listen again; try once more.
    if (Result<void> r = endpoint_->instance_freed(); !r) return r;
    free_ = true;
  }
  Result<UniqueFd> client = endpoint_->accept();
  if (!client) return client.error();
  free_ = false;
  connection_ = std::make_unique<PipeConnection>(std::move(*client));
  return {};
}

Result<void> PipeServerInstance::disconnect() {
  if (!connection_) return Error{ENOTCONN, "no client connected"};
  connection_.reset();
  if (Result<void> r = endpoint_->instance_freed(); !r) return r;
  free_ = true;
  return {};
}
