#include "net/proxy_config.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/gobject_ptr.h"
#include "support/temp_dir.h"

namespace {

constexpr char kSchema[] = "org.gnome.system.proxy";

// GSettings keeps one backend per process and GLib caches the user's configuration directory, so
// the keyfile backend is pinned to a temporary directory before any test runs (TempHome changes
// XDG_CONFIG_HOME later, but GLib has read it by then). Removed at exit; the path is never
// destroyed, so it is still there when the exit handler runs.
const std::string& KeyfileConfigDir() {
  static const std::string* dir = [] {
    auto* root = new std::string(testing_support::MakeTempDir("morvil-gsettings").string());
    setenv("GSETTINGS_BACKEND", "keyfile", 1);
    setenv("XDG_CONFIG_HOME", root->c_str(), 1);
    g_get_user_config_dir();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(KeyfileConfigDir(), ignored);
    });
    return root;
  }();
  return *dir;
}
const bool kKeyfilePinned = !KeyfileConfigDir().empty();

// Another process reading the same settings: `gsettings get`, printing GVariant text. Its output
// passes through the locale's character set, so the locale is fixed to one that holds any text.
std::string OutsideGet(const std::string& schema, const std::string& key) {
  std::string command = "env LC_ALL=C.UTF-8 GSETTINGS_BACKEND=keyfile XDG_CONFIG_HOME='" +
                        KeyfileConfigDir() + "' gsettings get " + schema + " " + key + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[512];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
  pclose(pipe);
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

class ProxyConfigTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kKeyfilePinned);
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        source ? g_settings_schema_source_lookup(source, kSchema, TRUE) : nullptr;
    if (!schema) GTEST_SKIP() << kSchema << " is not installed (gsettings-desktop-schemas)";
    g_settings_schema_unref(schema);
    settings_ = GObjectPtr<GSettings>::adopt(g_settings_new(kSchema));
    http_ = GObjectPtr<GSettings>::adopt(g_settings_get_child(settings_.get(), "http"));
    for (const char* key : {"mode", "autoconfig-url", "ignore-hosts"})
      g_settings_reset(settings_.get(), key);
    g_settings_reset(http_.get(), "host");
    g_settings_reset(http_.get(), "port");
    g_settings_sync();
  }

  void SetMode(const char* mode, const char* url) {
    g_settings_set_string(settings_.get(), "mode", mode);
    g_settings_set_string(settings_.get(), "autoconfig-url", url);
    g_settings_sync();
  }
  void SetIgnoreHosts(std::vector<const char*> hosts) {
    hosts.push_back(nullptr);
    g_settings_set_strv(settings_.get(), "ignore-hosts", hosts.data());
    g_settings_sync();
  }

  CProxyConfig MakeConfig(std::filesystem::path schemaDirectory = {}) {
    return CProxyConfig([this](const Text& text) { shown_.push_back(text); },
                        std::move(schemaDirectory));
  }

  GObjectPtr<GSettings> settings_;
  GObjectPtr<GSettings> http_;
  std::vector<Text> shown_;  // message boxes
};

TEST_F(ProxyConfigTest, ProxyTypeReportsTheModeAsPlatformFlags) {
  struct Row {
    const char* mode;
    const char* url;
    int32_t flags;
    const char* diagnostics;
  } rows[] = {
      {"none", "", 1, ""},
      {"none", "http://pac.test/p.pac", 1, ""},
      {"manual", "", 3, ""},
      {"auto", "http://pac.test/p.pac", 5, "PROXY_TYPE_AUTO_PROXY_URL\n"},
      {"auto", "", 9, "PROXY_TYPE_AUTO_DETECT\n"},
  };
  CProxyConfig config = MakeConfig();
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.mode) + " " + row.url);
    SetMode(row.mode, row.url);
    testing::internal::CaptureStdout();
    EXPECT_EQ(config.GetProxyType(), row.flags);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.diagnostics);
  }
  EXPECT_TRUE(shown_.empty());
}

TEST_F(ProxyConfigTest, AutoConfigWritesUrlModeAndLocalBypassForOtherReaders) {
  SetIgnoreHosts({"*.corp.test", "localhost"});
  CProxyConfig config = MakeConfig();
  config.SetAutoConfigProxy(u"http://127.0.0.1:8080/proxy.pac");

  EXPECT_EQ(OutsideGet(kSchema, "mode"), "'auto'");
  EXPECT_EQ(OutsideGet(kSchema, "autoconfig-url"), "'http://127.0.0.1:8080/proxy.pac'");
  // Existing entries stay in place; the local names are added once each.
  EXPECT_EQ(OutsideGet(kSchema, "ignore-hosts"),
            "['*.corp.test', 'localhost', '127.0.0.0/8', '::1']");
  EXPECT_EQ(config.GetAutoConfigUrl(), u"http://127.0.0.1:8080/proxy.pac");
  EXPECT_EQ(config.GetProxyType(), 5);
  EXPECT_TRUE(shown_.empty());

  // A second call adds nothing more to the bypass list.
  config.SetAutoConfigProxy(u"http://127.0.0.1:8080/other.pac");
  EXPECT_EQ(OutsideGet(kSchema, "ignore-hosts"),
            "['*.corp.test', 'localhost', '127.0.0.0/8', '::1']");
  EXPECT_EQ(OutsideGet(kSchema, "autoconfig-url"), "'http://127.0.0.1:8080/other.pac'");
}

TEST_F(ProxyConfigTest, AnEmptyUrlMeansDirectNeverDiscovery) {
  CProxyConfig config = MakeConfig();
  config.SetAutoConfigProxy(u"http://pac.test/p.pac");

  // Mode auto without a URL would have every program of the desktop discover a proxy (WPAD) on
  // the local network; an empty URL replaces the previous one and connects directly instead.
  config.SetAutoConfigProxy(u"");
  EXPECT_EQ(OutsideGet(kSchema, "mode"), "'none'");
  EXPECT_EQ(OutsideGet(kSchema, "autoconfig-url"), "''");
  EXPECT_EQ(config.GetAutoConfigUrl(), u"");
  EXPECT_EQ(config.GetProxyType(), 1);

  config.SetAutoConfigProxy(u"http://\u4f8b\u3048.test/p.pac");
  EXPECT_EQ(OutsideGet(kSchema, "mode"), "'auto'");
  EXPECT_EQ(OutsideGet(kSchema, "autoconfig-url"), "'http://\xe4\xbe\x8b\xe3\x81\x88.test/p.pac'");
  EXPECT_EQ(config.GetProxyType(), 5);
  EXPECT_TRUE(shown_.empty());
}

TEST_F(ProxyConfigTest, DisableProxyChangesOnlyTheMode) {
  SetMode("manual", "http://pac.test/p.pac");
  SetIgnoreHosts({"*.corp.test"});
  g_settings_set_string(http_.get(), "host", "proxy.test");
  g_settings_set_int(http_.get(), "port", 3128);
  g_settings_sync();

  CProxyConfig config = MakeConfig();
  config.DisableProxy();
  EXPECT_EQ(OutsideGet(kSchema, "mode"), "'none'");
  EXPECT_EQ(OutsideGet(kSchema, "autoconfig-url"), "'http://pac.test/p.pac'");
  EXPECT_EQ(OutsideGet(kSchema, "ignore-hosts"), "['*.corp.test']");
  EXPECT_EQ(OutsideGet(std::string(kSchema) + ".http", "host"), "'proxy.test'");
  EXPECT_EQ(OutsideGet(std::string(kSchema) + ".http", "port"), "3128");
  EXPECT_EQ(config.GetProxyType(), 1);
  EXPECT_TRUE(shown_.empty());
}

// Without the schema nothing can be read or written: reads answer 0 with a diagnostic line,
// writes show the message box, and the settings stay as they were.
TEST_F(ProxyConfigTest, MissingSchemaFailsWithoutTouchingTheSettings) {
  SetMode("manual", "");
  std::filesystem::path empty = testing_support::MakeTempDir("morvil-schemas");
  CProxyConfig config = MakeConfig(empty);

  testing::internal::CaptureStdout();
  EXPECT_EQ(config.GetProxyType(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "InternetQueryOption failed! (2)\n");

  config.DisableProxy();
  config.SetAutoConfigProxy(u"http://pac.test/p.pac");
  EXPECT_EQ(shown_, (std::vector<Text>{u"InternetQueryOption failed! (2)\n",
                                       u"InternetQueryOption failed! (2)\n"}));
  EXPECT_EQ(config.GetAutoConfigUrl(), u"http://pac.test/p.pac");
  EXPECT_EQ(OutsideGet(kSchema, "mode"), "'manual'");
  std::filesystem::remove_all(empty);
}

}  // namespace
