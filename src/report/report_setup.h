// The main window's report set-up: version and source id from the product's uninstall entry,
// the main program's tracking id and report endpoint, and plain http for both endpoints.
#pragma once

#include "base/text.h"
#include "report/report_instance.h"

// Reads string values of a registry key, opening the key (created with full access when
// missing). A value that cannot be read gives the empty text.
class RegistryStringReader {
 public:
  virtual ~RegistryStringReader() = default;
  [[nodiscard]] virtual Text ReadString(const Text& keyPath, const Text& valueName) = 0;
};

// "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\" + display name.
[[nodiscard]] Text UninstallKeyPath(const Text& productDisplayName);

// Reads "SourceID" and "DisplayVersion" of the product's uninstall key; sets version to the
// DisplayVersion, sourceId to the normalised SourceID, trackingId to "UA-13572468-2" and
// reportUrl to the configured report endpoint; then turns both endpoints to plain http.
void RunMainWindowReportSetUp(ReportInstance<char16_t>& reports, RegistryStringReader& registry,
                              const Text& productDisplayName);
