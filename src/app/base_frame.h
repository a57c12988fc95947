// The main window: shows the main page, runs the report set-up and starts the acceleration
// request server when it is constructed, and handles the "tray" start mode, in which the window
// stays hidden (and without a taskbar button) until page script shows it. UI thread only.
#pragma once

#include "html/base_dhtml_pg_dlg.h"
#include "net/network_data_stream.h"
#include "net/proxy_config.h"

class CBaseFrame : public CBaseDHtmlPgDlg {
  DECLARE_MESSAGE_MAP()
  DECLARE_DISPATCH_MAP()

 public:
  CBaseFrame(const Text& url, const Text& selector, TopLevelWindow* parent);

  BOOL OnInitDialog() override;
  int32_t DoNewInstance(bool modal, const Text& url, const Text& selector) override;

  // Script methods of the main window that need its own objects.
  int32_t GetProxyType() { return m_proxyConfig.GetProxyType(); }
  void DisableProxy() { m_proxyConfig.DisableProxy(); }
  void SetAutoConfigProxy(const Text& url) { m_proxyConfig.SetAutoConfigProxy(url); }
  bool GetNetworkInfo() { return m_networkData.GetNetworkInfo(); }
  int32_t GetCurrDownloadTotal() { return m_networkData.GetCurrDownloadTotal(); }
  int32_t GetCurrUploadTotal() { return m_networkData.GetCurrUploadTotal(); }
  // Starts a latency probe; its result reaches the page as the event (average, quench count).
  void Ping(const Text& host, int32_t count, int32_t timeout);

  // True when the first argument after the program name is exactly "tray". Read afresh.
  [[nodiscard]] static bool IsTrayStartMode();

 protected:
  LRESULT OnTimer(WPARAM wparam, LPARAM lparam);
  // The browser covers the whole window: nothing to erase or paint behind it.
  LRESULT OnEraseBackground(WPARAM wparam, LPARAM lparam) { return TRUE; }
  LRESULT OnPaint(WPARAM wparam, LPARAM lparam) { return 0; }

 private:
  static const MessageMapEntry kMessageEntries[];
  static const DispatchEntry kDispatchEntries[];

  CProxyConfig m_proxyConfig;
  CNetWorkDataStream m_networkData;
};
