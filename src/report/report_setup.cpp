#include "report/report_setup.h"

#include "report/normalize_source_id.h"
#include "report/report_config.h"

Text UninstallKeyPath(const Text& productDisplayName) {
  return u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
         productDisplayName;
}

void RunMainWindowReportSetUp(ReportInstance<char16_t>& reports, RegistryStringReader& registry,
                              const Text& productDisplayName) {
  const Text key = UninstallKeyPath(productDisplayName);
  const Text source = registry.ReadString(key, u"SourceID");
  const Text version = registry.ReadString(key, u"DisplayVersion");
  reports.SetVersion(version);
  reports.SetSourceId(NormalizeSourceId(source));
  reports.SetTrackingId(u"UA-13572468-2");
  reports.SetReportUrl(FromUtf8(ConfiguredReportUrl()));
  reports.SetReportScheme(false);
}
