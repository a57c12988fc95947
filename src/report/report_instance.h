// The report engine: sends each usage event (an action and a label) twice, as a GET to the
// maker's report endpoint and as a Measurement Protocol v1 event hit to the analytics endpoint.
// Written once for both text widths: ReportInstance<char16_t> is the main program's (UTF-16
// texts), ReportInstance<char> the report library's (8-bit texts in the ANSI code page, sent as
// they are).
//
// Not thread-safe: setters and sends come from one thread at a time. The requests run on the
// engine's own bounded workers; SendReport never waits on the network.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/internet_session.h"
#include "report/report_request_pool.h"

template <typename Char>
class ReportInstance {
 public:
  using String = std::basic_string<Char>;

  struct Defaults {
    String reportUrl;     // may be empty: report requests then fail in their worker
    String analyticsUrl;  // scheme and host, no trailing slash
    String trackingId;
    std::string userAgent;
    size_t maxWorkers = 4;
    InternetSession::ProxySource proxySource = InternetSession::ProxySource::kDesktop;
  };

  // Reads the client id and the install date now.
  explicit ReportInstance(Defaults defaults);
  ~ReportInstance();  // cancels requests still in flight (within about a second)

  // Starts both requests for the event; action and label go into the URLs verbatim.
  void SendReport(const String& action, const String& label);
  // SendReport with both texts passed through EncodeReportArgument first.
  void SendReportEncoded(const String& action, const String& label);
  // True: every "http://" in the report and analytics URLs becomes "https://"; false: back.
  void SetReportScheme(bool useHttps);
  // Sleeps a second at a time while requests are queued or in flight, ten seconds at most; at
  // least one second in any case.
  void ReportWait();

  // The two URLs of an event; `z` is the analytics cache-buster.
  [[nodiscard]] String BuildReportUrl(const String& action, const String& label) const;
  [[nodiscard]] String BuildAnalyticsUrl(const String& action, const String& label, int z) const;

  // Sets clientId from this machine's adapters.
  void ReadClientId();
  // The executable's install date, computed at each call.
  [[nodiscard]] static String ReadInstallDate();

  void SetVersion(const String& value) { version = value; }
  void SetSourceId(const String& value) { sourceId = value; }
  void SetTrackingId(const String& value) { trackingId = value; }
  void SetReportUrl(const String& value) { reportUrl = value; }
  void SetClientId(const String& value) { clientId = value; }
  void SetInstallDate(const String& value) { installDate = value; }
  [[nodiscard]] const String& GetVersion() const { return version; }
  [[nodiscard]] const String& GetSourceId() const { return sourceId; }
  [[nodiscard]] const String& GetClientId() const { return clientId; }
  [[nodiscard]] const String& GetReportUrl() const { return reportUrl; }
  [[nodiscard]] const String& GetAnalyticsUrl() const { return analyticsUrl; }
  [[nodiscard]] int32_t pendingRequests() const { return pool_.pending(); }
  [[nodiscard]] size_t workerThreads() const { return pool_.worker_count(); }

  // Called (on the sender's thread) when no Internet session can be opened and the event is
  // dropped; the main program shows its message box from here.
  void SetSessionFailureNotice(std::function<void(const String&)> notice) {
    sessionFailureNotice_ = std::move(notice);
  }

 private:
  String version;
  std::shared_ptr<InternetSession> internetSession;
  String clientId;
  String sourceId;
  String reportUrl;
  String trackingId;
  String analyticsUrl;
  String installDate;
  std::string userAgent_;
  InternetSession::ProxySource proxySource_;
  std::function<void(const String&)> sessionFailureNotice_;
  ReportRequestPool pool_;
};

extern template class ReportInstance<char16_t>;
extern template class ReportInstance<char>;
