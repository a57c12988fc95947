#include "report/report_instance.h"

#include <chrono>
#include <thread>

#include "base/text.h"
#include "report/client_id.h"
#include "report/install_date.h"
#include "report/report_encoding.h"
#include "report/report_random.h"

namespace {

constexpr char kSessionMissing[] = "report instance is empty!";

// Texts of either width to and from the bytes of a URL: UTF-16 goes out as UTF-8, 8-bit text
// as it is.
std::string UrlBytes(const std::u16string& text) {
  return ToUtf8(text);
}
std::string UrlBytes(const std::string& text) {
  return text;
}

template <typename Char>
std::basic_string<Char> Widen(std::string_view ascii) {
  return std::basic_string<Char>(ascii.begin(), ascii.end());
}

template <typename Char>
void ReplaceAll(std::basic_string<Char>& text, std::string_view from, std::string_view to) {
  const auto f = Widen<Char>(from);
  const auto t = Widen<Char>(to);
  for (size_t at = text.find(f); at != std::basic_string<Char>::npos;
       at = text.find(f, at + t.size()))
    text.replace(at, f.size(), t);
}

}  // namespace

template <typename Char>
ReportInstance<Char>::ReportInstance(Defaults defaults)
    : version(Widen<Char>("1.0")),
      sourceId(Widen<Char>("0")),
      reportUrl(std::move(defaults.reportUrl)),
      trackingId(std::move(defaults.trackingId)),
      analyticsUrl(std::move(defaults.analyticsUrl)),
      installDate(ReadInstallDate()),
      userAgent_(std::move(defaults.userAgent)),
      proxySource_(defaults.proxySource),
      pool_(defaults.maxWorkers) {
  ReadClientId();
}

template <typename Char>
ReportInstance<Char>::~ReportInstance() = default;

template <typename Char>
void ReportInstance<Char>::ReadClientId() {
  clientId = Widen<Char>(ReadMachineClientId());
}

template <typename Char>
typename ReportInstance<Char>::String ReportInstance<Char>::ReadInstallDate() {
  return Widen<Char>(ReadExecutableInstallDate());
}

template <typename Char>
typename ReportInstance<Char>::String ReportInstance<Char>::BuildReportUrl(
    const String& action, const String& label) const {
  auto w = [](const char* s) { return Widen<Char>(s); };
  return reportUrl + w("?a=") + action + w("&v=") + version + w("&s=") + sourceId + w("&p=") +
         label + w("&c=") + clientId;
}

template <typename Char>
typename ReportInstance<Char>::String ReportInstance<Char>::BuildAnalyticsUrl(const String& action,
                                                                              const String& label,
                                                                              int z) const {
  auto w = [](const char* s) { return Widen<Char>(s); };
  return analyticsUrl + w("/collect?v=1&tid=") + trackingId + w("&cid=") + clientId +
         w("&t=event&ec=client&ea=") + action + w("&el=") + label + w("&z=") +
         Widen<Char>(std::to_string(z)) + w("&de=UTF-8&cd1=") + sourceId + w("&cd2=") + version +
         w("&cd3=") + installDate;
}

template <typename Char>
void ReportInstance<Char>::SendReport(const String& action, const String& label) {
  if (!internetSession) {
    auto session = InternetSession::Open(userAgent_, proxySource_);
    if (!session) {
      if (sessionFailureNotice_) sessionFailureNotice_(Widen<Char>(kSessionMissing));
      return;
    }
    internetSession = std::move(session.value());
  }
  pool_.Submit(internetSession, UrlBytes(BuildReportUrl(action, label)));
  pool_.Submit(internetSession, UrlBytes(BuildAnalyticsUrl(action, label, NextReportRandom())));
}

template <typename Char>
void ReportInstance<Char>::SendReportEncoded(const String& action, const String& label) {
  SendReport(EncodeReportArgument(action), EncodeReportArgument(label));
}

template <typename Char>
void ReportInstance<Char>::SetReportScheme(bool useHttps) {
  for (String* url : {&reportUrl, &analyticsUrl}) {
    if (useHttps)
      ReplaceAll(*url, "http://", "https://");
    else
      ReplaceAll(*url, "https://", "http://");
  }
}

template <typename Char>
void ReportInstance<Char>::ReportWait() {
  for (int slept = 0; slept < 10; ++slept) {
    const bool idle = pool_.pending() == 0;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    if (idle) return;
  }
}

template class ReportInstance<char16_t>;
template class ReportInstance<char>;
