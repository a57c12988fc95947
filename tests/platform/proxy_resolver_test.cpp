#include "platform/proxy_resolver.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

namespace {

TEST(ProxyResolverTest, FirstEntryCurlCanUseWins) {
  using V = std::vector<std::string>;
  EXPECT_EQ(CurlProxyFromResolverAnswer(V{"direct://"}), "");
  EXPECT_EQ(CurlProxyFromResolverAnswer(V{"http://p:3128", "direct://"}), "http://p:3128");
  EXPECT_EQ(CurlProxyFromResolverAnswer(V{"socks://s:1080"}), "socks5://s:1080");
  EXPECT_EQ(CurlProxyFromResolverAnswer(V{"ftp://x:21", "SOCKS5://s:1"}), "SOCKS5://s:1");
  EXPECT_EQ(CurlProxyFromResolverAnswer(V{"ftp://x:21"}), "");
  EXPECT_EQ(CurlProxyFromResolverAnswer(V{}), "");
}

TEST(ProxyResolverTest, LoopbackIsReachedDirectlyEvenFromTheMainContextOwner) {
  // The lookup must not deadlock or fail on the thread that owns the default main context.
  ASSERT_TRUE(g_main_context_acquire(g_main_context_default()));
  EXPECT_EQ(ResolveProxyForUrl("http://127.0.0.1:1/"), "");
  g_main_context_release(g_main_context_default());
}

}  // namespace
