#include "platform/internet_session.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "platform/proxy_resolver.h"

namespace {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyCleanup {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using EasyPtr = std::unique_ptr<CURL, EasyCleanup>;

struct SlistFree {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistFree>;

struct ShareCleanup {
  void operator()(CURLSH* h) const { curl_share_cleanup(h); }
};
using SharePtr = std::unique_ptr<CURLSH, ShareCleanup>;

bool IsHttpsUrl(const char* url) {
  return strncasecmp(url, "https://", 8) == 0;
}

bool IsHttpUrl(const std::string& url) {
  return strncasecmp(url.c_str(), "http://", 7) == 0 || IsHttpsUrl(url.c_str());
}

bool Append(SlistPtr& list, const char* line) {
  curl_slist* grown = curl_slist_append(list.get(), line);
  if (!grown) return false;
  (void)list.release();
  list.reset(grown);
  return true;
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines) {
    if (line.size() > name.size() && line[name.size()] == ':' &&
        strncasecmp(line.c_str(), name.data(), name.size()) == 0)
      return true;
  }
  return false;
}

// What the curl callbacks of one transfer share.
struct Transfer {
  CURL* handle;
  const HttpRequest& request;
  HttpResponseSink& sink;
  uint64_t body_left;
  bool status_delivered = false;
  bool sink_refused = false;
  bool secure_so_far = false;  // a request of this transfer went over https

  bool DeliverStatus() {
    if (status_delivered) return true;
    status_delivered = true;
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (!sink.OnStatus(status)) sink_refused = true;
    return !sink_refused;
  }
};

size_t OnWrite(char* data, size_t one, size_t size, void* user) {
  auto* t = static_cast<Transfer*>(user);
  if (!t->DeliverStatus()) return 0;
  if (!t->sink.OnData(data, size)) {
    t->sink_refused = true;
    return 0;
  }
  return size;
}

size_t OnRead(char* buffer, size_t one, size_t size, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t want = static_cast<size_t>(std::min<uint64_t>(size, t->body_left));
  if (want == 0) return 0;
  size_t got = t->request.body_source->Read(buffer, want);
  if (got == 0 || got > want) return CURL_READFUNC_ABORT;  // body shorter than declared
  t->body_left -= got;
  return got;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  return t->request.cancel && t->request.cancel->load() ? 1 : 0;
}

// Runs before each request of the transfer, redirects included: once a request went over https,
// a later one over plain http would hand the rest of the exchange to whoever sits on the network,
// so the transfer ends instead.
int OnBeforeRequest(void* user, char*, char*, int, int) {
  auto* t = static_cast<Transfer*>(user);
  char* url = nullptr;
  curl_easy_getinfo(t->handle, CURLINFO_EFFECTIVE_URL, &url);
  const bool secure = url && IsHttpsUrl(url);
  if (t->secure_so_far && !secure) return CURL_PREREQFUNC_ABORT;
  t->secure_so_far = t->secure_so_far || secure;
  return CURL_PREREQFUNC_OK;
}

bool IsConnectFailure(CURL* h, CURLcode rc) {
  if (rc == CURLE_COULDNT_CONNECT) return true;
  curl_off_t connected_at = 0;
  curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connected_at);
  return rc == CURLE_OPERATION_TIMEDOUT && connected_at == 0;
}

}  // namespace

// Every transfer has a handle of its own, made and dropped by Send(); name lookups and TLS
// sessions, which make a later request cheaper, live in the session's share, so a thread keeps
// nothing of the session's once its request is done. (A thread-local handle would pin the report
// library in its host: a library whose threads hold thread-local objects is never unloaded.)
// Open connections are not shared: libcurl does not support sharing them between threads that
// transfer at the same time, as the report workers do.
struct InternetSession::Impl {
  std::string user_agent;
  std::string ca_file;
  ProxySource proxy_source = ProxySource::kDesktop;
  SharePtr share;
  std::mutex locks[CURL_LOCK_DATA_LAST];

  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<Impl*>(user)->locks[data].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* user) {
    static_cast<Impl*>(user)->locks[data].unlock();
  }
};

InternetSession::InternetSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
InternetSession::~InternetSession() = default;

Result<std::shared_ptr<InternetSession>> InternetSession::Open(std::string user_agent,
                                                               ProxySource proxy_source) {
  InitCurlOnce();
  auto impl = std::make_unique<Impl>();
  impl->user_agent = std::move(user_agent);
  impl->proxy_source = proxy_source;
  impl->share.reset(curl_share_init());
  if (!impl->share) return Error{CURLE_OUT_OF_MEMORY, "curl_share_init"};
  CURLSH* share = impl->share.get();
  curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Impl::Lock);
  curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Impl::Unlock);
  curl_share_setopt(share, CURLSHOPT_USERDATA, impl.get());
  for (curl_lock_data data : {CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION})
    curl_share_setopt(share, CURLSHOPT_SHARE, data);
  if (const char* ca = std::getenv("SSL_CERT_FILE"); ca && *ca) impl->ca_file = ca;
  return std::shared_ptr<InternetSession>(new InternetSession(std::move(impl)));
}

const std::string& InternetSession::user_agent() const {
  return impl_->user_agent;
}

Result<long> InternetSession::Send(const HttpRequest& request, HttpResponseSink& sink) {
  if (!IsHttpUrl(request.url)) return Error{CURLE_UNSUPPORTED_PROTOCOL, "not an http(s) URL"};
  EasyPtr handle(curl_easy_init());
  CURL* h = handle.get();
  if (!h) return Error{CURLE_OUT_OF_MEMORY, "curl_easy_init"};

  SlistPtr headers;
  bool listed = true;
  for (const std::string& line : request.headers) listed = listed && Append(headers, line.c_str());
  const bool post = request.method == "POST";
  if (post && !HasHeader(request.headers, "Content-Type")) {
    // curl would otherwise add a form Content-Type of its own.
    listed = listed && Append(headers, "Content-Type:");
  }
  if (post) {
    // Servers that do not answer "100 Continue" would otherwise cost a second per upload.
    listed = listed && Append(headers, "Expect:");
  }
  if (!listed) return Error{CURLE_OUT_OF_MEMORY, "curl_slist_append"};

  Transfer transfer{h, request, sink, request.body_size};

  curl_easy_setopt(h, CURLOPT_SHARE, impl_->share.get());
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  // A request that starts on https never follows a redirect to plain http, not even to connect.
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR,
                   IsHttpsUrl(request.url.c_str()) ? "https" : "http,https");
  curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, OnBeforeRequest);
  curl_easy_setopt(h, CURLOPT_PREREQDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, impl_->user_agent.c_str());
  // Left unset, curl reads the environment's proxy variables itself.
  if (impl_->proxy_source == ProxySource::kDesktop)
    curl_easy_setopt(h, CURLOPT_PROXY, ResolveProxyForUrl(request.url).c_str());
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!impl_->ca_file.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, impl_->ca_file.c_str());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, request.connect_timeout_ms);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, request.stall_timeout_s);
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnWrite);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  if (post) {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    if (request.body_source) {
      curl_easy_setopt(h, CURLOPT_READFUNCTION, OnRead);
      curl_easy_setopt(h, CURLOPT_READDATA, &transfer);
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body_size));
    } else {
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
    }
  } else {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  }

  CURLcode rc = CURLE_OK;
  for (int attempt = 0; attempt <= request.connect_retries; ++attempt) {
    transfer.secure_so_far = false;
    rc = curl_easy_perform(h);
    if (rc == CURLE_OK || !IsConnectFailure(h, rc) || request.body_source) break;
  }
  if (rc != CURLE_OK) return Error{rc, curl_easy_strerror(rc)};
  if (!transfer.DeliverStatus()) return Error{CURLE_WRITE_ERROR, "response refused"};
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  return status;
}
