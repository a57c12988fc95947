// The page's report methods, on the main program's report engine. All run on the window's
// thread; ReportWait blocks it for one to ten seconds.
#pragma once

#include "base/text.h"
#include "report/report_instance.h"

// The main program's process-wide engine: report endpoint empty until the main window's report
// set-up or InitReport, tracking id "UA-13572468-1", the configured analytics endpoint.
[[nodiscard]] ReportInstance<char16_t>& MorvilReportInstance();

[[nodiscard]] Text GetVersion();
// The executable's install date, computed anew at each call.
[[nodiscard]] Text GetInstallDate();
[[nodiscard]] Text GetSourceID();
[[nodiscard]] Text GetClientID();
void StartReportZh(const Text& action, const Text& label);
void StartReport(const Text& action, const Text& label);
// Stores the four texts unchanged (the source id is not normalised here), then sets the scheme.
void InitReport(const Text& version, const Text& sourceId, const Text& trackingId,
                const Text& reportUrl, bool useHttps);
void ReportWait();
