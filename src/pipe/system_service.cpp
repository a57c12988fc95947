#include "pipe/system_service.h"

#include <memory>

#include "pipe/pipe_message.h"
#include "pipe/service_bootstrap.h"
#include "platform/pipe_client.h"

bool SystemServiceAnswers(std::chrono::milliseconds wait) {
  Result<std::unique_ptr<PipeConnection>> pipe = OpenSystemPipe(BackendServicePipeName);
  if (!pipe || !(*pipe)->write(EncodePipeMessage(u"status"))) return false;
  Result<bool> ready = (*pipe)->wait_readable(wait);
  if (!ready || !*ready) return false;
  std::byte buffer[kPipeReadLimit];
  Result<PipeConnection::ReadResult> answer = (*pipe)->read(buffer);
  return answer && answer->size > 0;
}
