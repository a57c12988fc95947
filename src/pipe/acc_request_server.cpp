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

// How long a connected client has to send each whole request: from its connection, and from the
// reply to its previous request. The server serves one client at a time and refuses the others,
// so this is what a client that stays silent, sends only part of a request or junk, or never
// reads its replies costs everybody else. The component sends its request within microseconds of
// connecting; 100 ms leaves room for a scheduling delay of a loaded machine a thousand times
// that, and lies well inside the time the component's clients keep asking a busy pipe (250 ms
// for the kernel-mode component, a second for the preloaded library), so that a client turned
// away while such a connection held the pipe still gets its answer. A client dropped in the
// middle of a series asks again on a new connection.
constexpr auto kRequestWait = std::chrono::milliseconds(100);

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
    // Only an answered request earns more time: messages that are no request do not.
    auto deadline = std::chrono::steady_clock::now() + kRequestWait;
    Text message;
    while (ServerPipeRead(AccPipeName, message, deadline)) {
      PrintDiagnostic(u"read -> " + message + u"\n");
      if (std::optional<Text> reply = AnswerAccMessage(message, ProcessPairStore())) {
        PrintDiagnostic(u"send Msg -> " + *reply + u"\n");
        // Not waiting until the client has read the reply: the next read waits for the client
        // anyway, and the wait would cost a wake-up per request. A reply that finds no room
        // leaves the deadline as it was, past by then, so the next read ends the client.
        if (ServerPipeSend(AccPipeName, *reply, kRequestWait))
          deadline = std::chrono::steady_clock::now() + kRequestWait;
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
