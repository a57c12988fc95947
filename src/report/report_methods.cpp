#include "report/report_methods.h"

#include "report/report_config.h"

ReportInstance<char16_t>& MorvilReportInstance() {
  static ReportInstance<char16_t> instance(ReportInstance<char16_t>::Defaults{
      .reportUrl = Text(),
      .analyticsUrl = FromUtf8(ConfiguredAnalyticsUrl()),
      .trackingId = u"UA-13572468-1",
      .userAgent = "morvil",
  });
  return instance;
}

Text GetVersion() {
  return MorvilReportInstance().GetVersion();
}

Text GetInstallDate() {
  return ReportInstance<char16_t>::ReadInstallDate();
}

Text GetSourceID() {
  return MorvilReportInstance().GetSourceId();
}

Text GetClientID() {
  return MorvilReportInstance().GetClientId();
}

void StartReportZh(const Text& action, const Text& label) {
  MorvilReportInstance().SendReportEncoded(action, label);
}

void StartReport(const Text& action, const Text& label) {
  MorvilReportInstance().SendReport(action, label);
}

void InitReport(const Text& version, const Text& sourceId, const Text& trackingId,
                const Text& reportUrl, bool useHttps) {
  ReportInstance<char16_t>& reports = MorvilReportInstance();
  reports.SetVersion(version);
  reports.SetSourceId(sourceId);
  reports.SetTrackingId(trackingId);
  reports.SetReportUrl(reportUrl);
  reports.SetReportScheme(useHttps);
}

void ReportWait() {
  MorvilReportInstance().ReportWait();
}
