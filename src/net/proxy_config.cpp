#include "net/proxy_config.h"

#include <string>

#include "base/diagnostic.h"
#include "platform/desktop_proxy_settings.h"

namespace {

std::string FailureText(int code) {
  return "InternetQueryOption failed! (" + std::to_string(code) + ")\n";
}

}  // namespace

CProxyConfig::CProxyConfig(MessageBox showMessage, std::filesystem::path schemaDirectory)
    : m_showMessage(std::move(showMessage)), m_schemaDirectory(std::move(schemaDirectory)) {}

int32_t CProxyConfig::GetProxyType() {
  return static_cast<int32_t>(Refresh());
}

void CProxyConfig::DisableProxy() {
  SetDirect();
}

void CProxyConfig::SetAutoConfigProxy(const Text& url) {
  SetAutoConfigUrl(url);
  ApplyAutoConfig();
}

uint32_t CProxyConfig::Refresh() {
  uint32_t flags = 0;
  Result<DesktopProxySettings> settings = DesktopProxySettings::Open(m_schemaDirectory);
  if (settings) {
    flags = settings->QueryFlags();
  } else {
    PrintDiagnostic(FailureText(settings.error().code));
  }
  if (flags & DesktopProxySettings::kAutoProxyUrl) PrintDiagnostic("PROXY_TYPE_AUTO_PROXY_URL\n");
  if (flags & DesktopProxySettings::kAutoDetect) PrintDiagnostic("PROXY_TYPE_AUTO_DETECT\n");
  m_dwProxyType = flags;
  return m_dwProxyType;
}

bool CProxyConfig::ApplyAutoConfig() {
  Result<DesktopProxySettings> settings = DesktopProxySettings::Open(m_schemaDirectory);
  Result<void> written = settings ? settings->SetAutoConfig(ToUtf8(m_strAutoConfigUrl))
                                  : Result<void>(settings.error());
  if (!written) ShowFailure(written.error().code);
  return static_cast<bool>(written);
}

bool CProxyConfig::SetDirect() {
  Result<DesktopProxySettings> settings = DesktopProxySettings::Open(m_schemaDirectory);
  Result<void> written = settings ? settings->SetDirect() : Result<void>(settings.error());
  if (!written) ShowFailure(written.error().code);
  return static_cast<bool>(written);
}

void CProxyConfig::ShowFailure(int code) {
  std::string text = FailureText(code);
  if (m_showMessage) {
    m_showMessage(FromUtf8(text));
  } else {
    PrintDiagnostic(text);
  }
}
