// Loaded into every web process of morvil. It connects to the host's bridge socket once per
// process and gives each frame's main script world a `window.external` object whose calls go to
// the host synchronously: the script thread sends the call and blocks until the answer arrives.
// The host learns the calling page and frame from this side, never from page script.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <webkit2/webkit-web-extension.h>

#include <cstring>
#include <string>

#include "framework/bridge_protocol.h"
#include "framework/bridge_socket.h"

namespace {

int g_socket = -1;
WebKitWebExtension* g_extension = nullptr;
// A world of our own in every frame, where page script cannot change what the DOM reports.
WebKitScriptWorld* g_inspection_world = nullptr;

// For a frame whose document has no address of its own (about:blank, about:srcdoc), the address
// of the nearest ancestor it may script, that is, whose origin it shares: the document the frame
// was built by and counts as. Walking up stops with "" at an ancestor of another origin (the
// browser refuses the access) and at the top without an addressed ancestor, so a frame a remote
// page built, or a sandboxed one, never passes for the local page.
constexpr char kEffectiveUrlScript[] = R"JS(
(function () {
  var w = window;
  try {
    while (/^about:(blank|srcdoc)([?#]|$)/.test(w.location.href)) {
      if (w === w.parent) return '';
      w = w.parent;
    }
    return String(w.location.href);
  } catch (e) {
    return '';
  }
})()
)JS";

// The page-side half: `window.external` is a proxy whose every member is a function that
// encodes its arguments, calls the host and decodes the answer (or throws an Error whose
// `number` is the failure's status). An unknown name fails only when it is called.
constexpr char kShim[] = R"JS(
(function (call) {
  function encode(v) {
    switch (typeof v) {
      case 'string': return 's' + JSON.stringify(v);
      case 'number': return ((v | 0) === v && !(v === 0 && 1 / v < 0)) ? 'i' + v : 'd' + v;
      case 'boolean': return v ? 'b1' : 'b0';
      case 'undefined': return 'u';
      default: return v === null ? 'n' : 'o';
    }
  }
  var methods = Object.create(null);
  function invoke(request, args) {
    for (var i = 0; i < args.length; i++) request += '\n' + encode(args[i]);
    var reply = call(request);
    switch (reply.charAt(0)) {
      case 's': return JSON.parse(reply.slice(1));
      case 'i': return parseInt(reply.slice(1), 10);
      case 'b': return reply.charAt(1) === '1';
      case 'e': {
        var nl = reply.indexOf('\n');
        var error = new Error(JSON.parse(reply.slice(nl + 1)));
        error.number = parseInt(reply.slice(1, nl), 10) | 0;
        throw error;
      }
      default: return undefined;
    }
  }
  var external = new Proxy({}, {
    get: function (target, name) {
      if (typeof name !== 'string') return undefined;
      var method = methods[name];
      if (!method) {
        var prefix = JSON.stringify(name);
        method = methods[name] = function () { return invoke(prefix, arguments); };
      }
      return method;
    },
    has: function () { return true; }
  });
  Object.defineProperty(window, 'external', { value: external, writable: false,
                                              configurable: false, enumerable: true });
})
)JS";

struct FrameCall {
  uint64_t page_id;
  WebKitFrame* frame;  // strong reference
};

std::string JsonString(const char* utf8) {
  std::string out = "\"";
  for (const char* p = utf8; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The address the host judges the calling frame by.
std::string FrameUrlForHost(WebKitFrame* frame) {
  const char* uri = webkit_frame_get_uri(frame);
  if (!uri || g_ascii_strncasecmp(uri, "about:", 6) != 0) return uri ? uri : "";
  JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, g_inspection_world);
  JSCValue* value = jsc_context_evaluate(context, kEffectiveUrlScript, -1);
  std::string url;
  if (value && jsc_value_is_string(value) && !jsc_context_get_exception(context)) {
    char* text = jsc_value_to_string(value);
    url = text ? text : "";
    g_free(text);
  }
  jsc_context_clear_exception(context);
  g_clear_object(&value);
  g_object_unref(context);
  return url;
}

// Runs a script of the host's in the page's main frame (the host lays the window out while the
// page waits in a call) and gives its value as JSON; empty when it failed.
std::string EvaluateForHost(uint64_t page_id, const std::string& script) {
  WebKitWebPage* page = g_extension ? webkit_web_extension_get_page(g_extension, page_id) : nullptr;
  // The frame API is deprecated in favour of one this version of the library does not offer.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  WebKitFrame* frame = page ? webkit_web_page_get_main_frame(page) : nullptr;
  JSCContext* context = frame ? webkit_frame_get_js_context(frame) : nullptr;
  G_GNUC_END_IGNORE_DEPRECATIONS
  if (!context) return std::string();
  JSCValue* value =
      jsc_context_evaluate(context, script.data(), static_cast<gssize>(script.size()));
  std::string json;
  if (jsc_context_get_exception(context)) {
    jsc_context_clear_exception(context);
  } else if (char* text = value ? jsc_value_to_json(value, 0) : nullptr) {
    json = text;
    g_free(text);
  }
  g_clear_object(&value);
  g_object_unref(context);
  return json;
}

char* CallHost(const char* request, gpointer data) {
  auto* call = static_cast<FrameCall*>(data);
  std::string uri = FrameUrlForHost(call->frame);
  std::string message = std::to_string(call->page_id) + "\n" + JsonString(uri.c_str()) + "\n" +
                        (request ? request : "");
  if (g_socket < 0 || !SendBridgeMessage(g_socket, message)) {
    return g_strdup("e-2147467259\n\"The host is not reachable\"");
  }
  for (;;) {
    std::optional<std::string> reply = ReceiveBridgeMessage(g_socket);
    if (!reply) return g_strdup("e-2147467259\n\"The host is not reachable\"");
    if (reply->empty() || reply->front() != kBridgeQuery) return g_strdup(reply->c_str());
    // Not the reply yet: the host asks something of the page first.
    if (!SendBridgeMessage(g_socket,
                           kBridgeAnswer + EvaluateForHost(call->page_id, reply->substr(1))))
      return g_strdup("e-2147467259\n\"The host is not reachable\"");
  }
}

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
  JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
  auto* call = new FrameCall{webkit_web_page_get_id(page), WEBKIT_FRAME(g_object_ref(frame))};
  JSCValue* function = jsc_value_new_function(
      context, nullptr, G_CALLBACK(CallHost), call,
      [](gpointer p) {
        auto* c = static_cast<FrameCall*>(p);
        g_object_unref(c->frame);
        delete c;
      },
      G_TYPE_STRING, 1, G_TYPE_STRING);
  JSCValue* installer = jsc_context_evaluate(context, kShim, -1);
  JSCValue* result = jsc_value_function_call(installer, JSC_TYPE_VALUE, function, G_TYPE_NONE);
  g_clear_object(&result);
  g_object_unref(installer);
  g_object_unref(function);
  g_object_unref(context);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, const GVariant* user_data) {
  g_extension = extension;
  const char* path = nullptr;
  const char* secret = nullptr;
  g_variant_get(const_cast<GVariant*>(user_data), "(&s&s)", &path, &secret);
  int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd >= 0 && std::strlen(path) < sizeof address.sun_path) {
    std::strcpy(address.sun_path, path);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        SendBridgeMessage(fd, std::string("H") + secret)) {
      g_socket = fd;
    } else {
      ::close(fd);
    }
  }
  g_inspection_world = webkit_script_world_new();
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(OnWindowObjectCleared), nullptr);
}
