// The report library's five exports over its own 8-bit report engine, built when the library
// is loaded and destroyed when it is unloaded.
#include "report/quillet/quillet.h"

#include "report/normalize_source_id.h"
#include "report/report_config.h"
#include "report/report_instance.h"

namespace {

std::string OrEmpty(const char* text) {
  return text ? text : "";
}

ReportInstance<char> library_reports(ReportInstance<char>::Defaults{
    .reportUrl = ConfiguredReportUrl(),
    .analyticsUrl = ConfiguredAnalyticsUrl(),
    .trackingId = "UA-13572468-1",
    .userAgent = "Quillet",
    // Loaded into programs not our own: no desktop resolver, no session bus, no threads of
    // GLib's left behind in them.
    .proxySource = InternetSession::ProxySource::kEnvironment,
});

}  // namespace

extern "C" void InitReport(const char* version, const char* sourceId, const char* trackingId,
                           const char* reportUrl, int useHttps) {
  library_reports.SetSourceId(NormalizeSourceId(OrEmpty(sourceId)));
  library_reports.SetVersion(OrEmpty(version));
  library_reports.SetTrackingId(OrEmpty(trackingId));
  library_reports.SetReportUrl(OrEmpty(reportUrl));
  library_reports.SetReportScheme(useHttps != 0);
}

extern "C" void StartReport(const char* action, const char* label) {
  library_reports.SendReport(OrEmpty(action), OrEmpty(label));
}

extern "C" void StartReportZh(const char* action, const char* label) {
  library_reports.SendReportEncoded(OrEmpty(action), OrEmpty(label));
}

extern "C" void ReportWait(void) {
  library_reports.ReportWait();
}

extern "C" const char* GetSourceId(void) {
  return library_reports.GetSourceId().c_str();
}
