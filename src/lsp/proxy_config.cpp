#include "lsp/proxy_config.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/monotonic_clock.h"
#include "lsp/acc_query.h"
#include "lsp/proxy_handshake.h"
#include "lsp/real_calls.h"

namespace {

std::atomic<const ProxyConfig*> g_proxy{nullptr};
// When the answer in g_proxy was had, on NowMs()'s clock.
std::atomic<int64_t> g_answered_ms{0};
pthread_once_t g_first_answer = PTHREAD_ONCE_INIT;
// Set by the thread asking again; the others go on with the answer they have meanwhile.
std::atomic<bool> g_asking{false};

bool ResolveServer(const AccReply& reply, ProxyConfig& config) {
  auto* in4 = reinterpret_cast<sockaddr_in*>(&config.address);
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&config.address);
  if (inet_pton(AF_INET, reply.server, &in4->sin_addr) == 1) {
    in4->sin_family = AF_INET;
    in4->sin_port = htons(reply.port);
    config.length = sizeof *in4;
    return true;
  }
  if (inet_pton(AF_INET6, reply.server, &in6->sin6_addr) == 1) {
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(reply.port);
    config.length = sizeof *in6;
    return true;
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(reply.server, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  std::memcpy(&config.address, found->ai_addr, found->ai_addrlen);
  config.length = found->ai_addrlen;
  freeaddrinfo(found);
  if (config.address.ss_family == AF_INET)
    in4->sin_port = htons(reply.port);
  else if (config.address.ss_family == AF_INET6)
    in6->sin6_port = htons(reply.port);
  else
    return false;
  return true;
}

bool SameProxy(const ProxyConfig& config, const AccReply& reply) {
  return std::strcmp(config.server, reply.server) == 0 && config.port == reply.port &&
         config.token_size == reply.token_size &&
         std::memcmp(config.token, reply.token, reply.token_size) == 0;
}

// The proxy of this answer: the current one when nothing changed (so that its name is not
// resolved again), else a new one, never freed, since connections in progress may still use an
// earlier one. nullptr when the process is not accelerated or the proxy cannot be used.
const ProxyConfig* ProxyOf(const AccReply& reply, const ProxyConfig* current) {
  if (current && SameProxy(*current, reply)) return current;
  auto* config = new (std::nothrow) ProxyConfig;
  if (config == nullptr) return nullptr;
  if (!ResolveServer(reply, *config)) {
    delete config;
    return nullptr;
  }
  std::memcpy(config->server, reply.server, sizeof config->server);
  config->port = reply.port;
  std::memcpy(config->token, reply.token, sizeof config->token);
  config->token_size = reply.token_size;
  const char* loopback = std::getenv("MORVIL_LSP_PROXY_LOOPBACK");
  config->proxy_loopback = loopback && std::strcmp(loopback, "1") == 0;
  return config;
}

void Ask() {
  InsideLibrary inside;
  AccReply reply;
  const ProxyConfig* current = g_proxy.load(std::memory_order_acquire);
  const ProxyConfig* next = QueryAcceleration(reply) ? ProxyOf(reply, current) : nullptr;
  g_proxy.store(next, std::memory_order_release);
  g_answered_ms.store(NowMs(), std::memory_order_release);
}

void FirstAnswer() {
  // A child made by fork while another thread was asking has only this thread: nobody asks.
  pthread_atfork(nullptr, nullptr, [] { g_asking.store(false); });
  Ask();
}

}  // namespace

const ProxyConfig* AcceleratedProxy() {
  // Every thread waits for the first answer, so that no early connection of a listed program
  // goes direct.
  pthread_once(&g_first_answer, FirstAnswer);
  if (NowMs() - g_answered_ms.load(std::memory_order_acquire) >= kAnswerKeptMs &&
      !g_asking.exchange(true, std::memory_order_acquire)) {
    if (NowMs() - g_answered_ms.load(std::memory_order_acquire) >= kAnswerKeptMs) Ask();
    g_asking.store(false, std::memory_order_release);
  }
  return g_proxy.load(std::memory_order_acquire);
}
