// The main window's view of the user's proxy settings (platform/desktop_proxy_settings.h): read
// the proxy type, switch to a direct connection, or point the settings at an automatic proxy
// configuration (PAC) URL. Each call acts on the settings at once and other programs see the
// change when it returns. Not thread-safe: the window's thread calls it, one call at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "base/text.h"

class CProxyConfig {
 public:
  // Shows a modal message box with `text`; the window connects it.
  using MessageBox = std::function<void(const Text& text)>;

  // `schemaDirectory` replaces the installed schemas (tests); empty means the installed ones.
  explicit CProxyConfig(MessageBox showMessage, std::filesystem::path schemaDirectory = {});

  // Script methods.
  // The proxy type flags: 1 direct, 3 fixed proxy, 5 PAC URL, 9 automatic detection. When the
  // settings cannot be read, prints "InternetQueryOption failed! (%d)\n" and answers 0, which
  // holds no flag at all and so cannot be taken for any real setting.
  int32_t GetProxyType();
  // A direct connection; the stored proxy hosts, bypass list and PAC URL stay.
  void DisableProxy();
  // Remembers `url` and makes it the PAC URL, with local names bypassed. An empty URL is stored
  // too but means a direct connection (never automatic discovery), which GetProxyType reports.
  void SetAutoConfigProxy(const Text& url);

  // Operations behind them. A failed write shows "InternetQueryOption failed! (%d)\n" in the
  // message box (the number is the platform's error code) and answers false.
  uint32_t Refresh();
  void SetAutoConfigUrl(const Text& url) { m_strAutoConfigUrl = url; }
  bool ApplyAutoConfig();
  bool SetDirect();

  [[nodiscard]] const Text& GetAutoConfigUrl() const { return m_strAutoConfigUrl; }

 private:
  void ShowFailure(int code);

  MessageBox m_showMessage;
  std::filesystem::path m_schemaDirectory;
  Text m_strAutoConfigUrl;
  uint32_t m_dwProxyType = 0;
};
