// HTTP transfers over libcurl, standing in for the platform's Internet session.
//
// A session carries the user agent, name lookups and TLS sessions; it may be shared by
// several threads, each Send() using its own transfer. Every request goes through the proxy that
// the desktop's proxy resolver names for its URL (looked up per request, never on a thread that
// runs the GLib main loop), or the environment's proxy for a session opened that way. Certificates
// and host names are always verified; a URL of the https scheme always uses TLS. The CA bundle is
// the system's, or the file named by SSL_CERT_FILE. Nothing is cached on this side, so every
// request reaches the server (or its proxy) afresh. Send() blocks until the transfer ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

// Receives one response. OnStatus comes once, with the final status code, before the first body
// byte (or at the end when the body is empty); OnData gets the body in pieces as it arrives.
// Returning false from either aborts the transfer, and Send() then fails.
class HttpResponseSink {
 public:
  virtual ~HttpResponseSink() = default;
  virtual bool OnStatus(long status) = 0;
  virtual bool OnData(const char* data, size_t size) = 0;
};

// Supplies a request body of a size declared in advance. Read fills up to `size` bytes and
// returns how many it wrote; returning 0 before the declared size is reached aborts the transfer.
class HttpBodySource {
 public:
  virtual ~HttpBodySource() = default;
  virtual size_t Read(char* buffer, size_t size) = 0;
};

struct HttpRequest {
  std::string method = "GET";  // "GET" or "POST"
  std::string url;             // absolute http or https URL, UTF-8
  // "Name: value" lines. Beside them curl sends only Host, Accept, Content-Length and the
  // session's User-Agent (a User-Agent line here replaces it); no Content-Type of its own.
  std::vector<std::string> headers;
  std::string_view body;                  // POST body held in memory (when `body_source` is null)
  HttpBodySource* body_source = nullptr;  // POST body streamed, exactly `body_size` bytes
  uint64_t body_size = 0;
  long connect_timeout_ms = 60000;  // the platform's default connect time-out
  int connect_retries = 0;          // further attempts after a failed connect
  // The transfer fails when less than one byte a second moves for this long.
  long stall_timeout_s = 30;
  // When set and raised, the transfer is abandoned within about a second.
  const std::atomic<bool>* cancel = nullptr;
};

class InternetSession {
 public:
  // Where a session takes its proxy from.
  enum class ProxySource {
    // The desktop's proxy resolver (the per-user settings), as the program's own requests do.
    kDesktop,
    // The process environment alone (http_proxy, https_proxy, no_proxy...), for code that runs
    // inside a program not its own: the desktop's resolver would start threads there and tie
    // the program to the session bus, which ends a program whose bus goes away.
    kEnvironment,
  };
  [[nodiscard]] static Result<std::shared_ptr<InternetSession>> Open(
      std::string user_agent, ProxySource proxy_source = ProxySource::kDesktop);
  ~InternetSession();
  InternetSession(const InternetSession&) = delete;
  InternetSession& operator=(const InternetSession&) = delete;

  // Runs one request; the result is the final status code. Fails when the URL is not http(s),
  // the connection, TLS or transfer fails, the body is cut short or the sink aborts. Redirects
  // are followed, but never from https to plain http: such a redirect fails the request.
  // Thread-safe.
  [[nodiscard]] Result<long> Send(const HttpRequest& request, HttpResponseSink& sink);

  [[nodiscard]] const std::string& user_agent() const;

  struct Impl;

 private:
  explicit InternetSession(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};
