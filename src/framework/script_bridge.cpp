#include "framework/script_bridge.h"

#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <poll.h>

#include <cstring>
#include <map>
#include <random>
#include <string>

#include "base/path.h"
#include "base/unique_fd.h"
#include "framework/bridge_protocol.h"
#include "framework/bridge_socket.h"
#include "framework/html_dialog.h"
#include "platform/runtime_dir.h"

namespace {

constexpr int kQueryPatienceMs = 2000;

struct Bridge {
  UniqueFd listener;
  std::string path;
  std::string secret;
};

Bridge& TheBridge() {
  static Bridge* bridge = new Bridge;  // lives as long as the process
  return *bridge;
}

std::string RandomSecret() {
  std::random_device random;
  static const char kHex[] = "0123456789abcdef";
  std::string secret;
  for (int i = 0; i < 32; ++i) secret += kHex[random() & 15];
  return secret;
}

// Page id -> the connection whose web process waits, inside a call of that page, for its
// reply. UI thread only.
std::map<uint64_t, int>& PagesInCall() {
  static std::map<uint64_t, int> pages;
  return pages;
}

std::string Serve(const std::string& wire, int fd) {
  std::optional<BridgeRequest> request = ParseBridgeRequest(wire);
  if (!request) return EncodeBridgeError(E_INVALIDARG, u"Malformed call");
  HtmlDialog* dialog = HtmlDialog::FromPageId(request->page_id);
  if (!dialog) return EncodeBridgeError(E_FAIL, u"The page's window is gone");
  // A connection is not served again while its call runs, so a page is in one call at most.
  const uint64_t page = request->page_id;
  PagesInCall()[page] = fd;
  std::string reply = dialog->HandleScriptCall(*request);
  PagesInCall().erase(page);
  return reply;
}

struct Connection {
  UniqueFd fd;
  bool authenticated = false;
};

gboolean OnConnectionReadable(gint fd, GIOCondition condition, gpointer data) {
  auto* connection = static_cast<Connection*>(data);
  std::optional<std::string> message = ReceiveBridgeMessage(fd);
  if (!message) return G_SOURCE_REMOVE;
  if (!connection->authenticated) {
    // The first message must carry the secret; anything else ends the connection.
    if (*message != "H" + TheBridge().secret) return G_SOURCE_REMOVE;
    connection->authenticated = true;
    return G_SOURCE_CONTINUE;
  }
  // An answer to a query that was given up on comes late; it asks for nothing.
  if (!message->empty() && message->front() == kBridgeAnswer) return G_SOURCE_CONTINUE;
  std::string reply = Serve(*message, fd);
  if (!SendBridgeMessage(fd, reply)) return G_SOURCE_REMOVE;
  return G_SOURCE_CONTINUE;
}

gboolean OnListenerReadable(gint fd, GIOCondition, gpointer) {
  int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return G_SOURCE_CONTINUE;
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
      peer.uid != ::geteuid()) {
    ::close(client);
    return G_SOURCE_CONTINUE;
  }
  auto* connection = new Connection{UniqueFd(client)};
  GSource* source =
      g_unix_fd_source_new(client, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  g_source_set_callback(source, G_SOURCE_FUNC(OnConnectionReadable), connection,
                        [](gpointer p) { delete static_cast<Connection*>(p); });
  // GLib takes a non-recursive source's descriptor out of the poll set while it dispatches and
  // puts it back afterwards, waking the loop twice per call. The web process sends nothing on
  // this connection until its call is answered, so the source cannot fire again meanwhile; let
  // it stay in the set.
  g_source_set_can_recurse(source, TRUE);
  g_source_attach(source, nullptr);
  g_source_unref(source);
  return G_SOURCE_CONTINUE;
}

bool Listen(Bridge& bridge) {
  // A directory of the bridge's own: the sandboxed web processes are shown this one alone, not
  // the runtime directory beside it, where the pipes (the acceleration pipe with the proxy
  // token among them) live.
  auto runtime = RuntimeDirectory();
  if (!runtime) return false;
  auto dir = PrivateSubdirectory(*runtime, "bridge");
  if (!dir) return false;
  bridge.secret = RandomSecret();
  bridge.path = (dir.value() / ("bridge-" + std::to_string(::getpid()) + ".sock")).string();
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!fd || bridge.path.size() >= sizeof address.sun_path) return false;
  std::strcpy(address.sun_path, bridge.path.c_str());
  ::unlink(bridge.path.c_str());
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 16) != 0)
    return false;
  bridge.listener = std::move(fd);
  g_unix_fd_add(bridge.listener.get(), G_IO_IN, OnListenerReadable, nullptr);
  // The socket file goes with the process.
  std::atexit([] { ::unlink(TheBridge().path.c_str()); });
  return true;
}

}  // namespace

std::optional<std::string> QueryPageInCall(uint64_t page_id, std::string_view script) {
  auto it = PagesInCall().find(page_id);
  if (it == PagesInCall().end()) return std::nullopt;
  const int fd = it->second;
  if (!SendBridgeMessage(fd, std::string(1, kBridgeQuery) + std::string(script)))
    return std::nullopt;
  // The web process waits for this connection's reply and so answers at once; a page that
  // does not (a script that never ends) costs the window its layout, not the program its UI.
  pollfd readable{fd, POLLIN, 0};
  if (::poll(&readable, 1, kQueryPatienceMs) != 1) return std::nullopt;
  std::optional<std::string> answer = ReceiveBridgeMessage(fd);
  if (!answer || answer->empty() || answer->front() != kBridgeAnswer) return std::nullopt;
  return answer->substr(1);
}

bool AttachScriptBridge(WebKitWebContext* context) {
  Bridge& bridge = TheBridge();
  if (!bridge.listener && !Listen(bridge)) return false;
  std::string extensions = ToUtf8(GetAppDirectory()) + "/webext";
  webkit_web_context_set_web_extensions_directory(context, extensions.c_str());
  webkit_web_context_set_web_extensions_initialization_user_data(
      context, g_variant_new("(ss)", bridge.path.c_str(), bridge.secret.c_str()));
  std::string dir = bridge.path.substr(0, bridge.path.rfind('/'));
  webkit_web_context_add_path_to_sandbox(context, dir.c_str(), FALSE);
  return true;
}
