#include "pipe/acc_request_server.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "base/diagnostic.h"
#include "base/split.h"
#include "pipe/server_pipe.h"
#include "services/pairs.h"

const Text AccPipeName = u"\\\\.\\pipe\\brelanPipe";

namespace {

Text FoldAsciiCase(Text text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return text;
}

Text BuildAccReply(const std::vector<Text>& fields, const PairStore& store) {
  Text file_name = fields.size() > 2 ? ProcessFileNameFromPath(fields[2]) : Text();
  bool accelerated = !file_name.empty() && IsAcceleratedProcess(file_name, store);
  Text reply = accelerated ? u"1" : u"0";
  for (const char16_t* key : {u"acc.proxy_server", u"acc.proxy_port", u"acc.proxy_token"}) {
    reply += u',';
    reply += store.Lookup(key).second;
  }
  return reply;
}

// Between failed waits for a client, so that a pipe that cannot be served costs no CPU.
constexpr auto kRetryPause = std::chrono::milliseconds(100);

}  // namespace

Text ProcessFileNameFromPath(const Text& path) {
  size_t separator = path.find_last_of(u"\\/");
  if (separator == Text::npos) return Text();
  return path.substr(separator + 1);
}

bool IsAcceleratedProcess(const Text& fileName) {
  return IsAcceleratedProcess(fileName, ProcessPairStore());
}

bool IsAcceleratedProcess(const Text& fileName, const PairStore& store) {
  const Text wanted = FoldAsciiCase(fileName);
  for (const Text& listed : SplitText(store.Lookup(u"acc.processes").second, u','))
    if (FoldAsciiCase(listed) == wanted) return true;
  return false;
}

std::optional<Text> AnswerAccMessage(const Text& message, const PairStore& store) {
  std::vector<Text> fields = SplitText(message, u',');
  if (fields.empty() || fields[0] != u"RequestAcc") return std::nullopt;
  return BuildAccReply(fields, store);
}

uint32_t AccRequestServerThread(void* /*window*/) {
  (void)ServerPipeCreate(AccPipeName);
  for (;;) {
    while (!ServerPipeConnect(AccPipeName)) std::this_thread::sleep_for(kRetryPause);
    PrintDiagnostic("client connected\n");
    Text message;
    while (ServerPipeRead(AccPipeName, message)) {
      PrintDiagnostic(u"read -> " + message + u"\n");
      if (std::optional<Text> reply = AnswerAccMessage(message, ProcessPairStore())) {
        PrintDiagnostic(u"send Msg -> " + *reply + u"\n");
        // Not waiting until the client has read the reply: the next read waits for the client
        // anyway, and the wait would cost a wake-up per request.
        (void)ServerPipeSend(AccPipeName, *reply);
      }
    }
    (void)ServerPipeDisconnect(AccPipeName);
    PrintDiagnostic("client disconnected\n");
  }
}

bool StartAccRequestServer(void* window) {
  try {
    std::thread(AccRequestServerThread, window).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}
