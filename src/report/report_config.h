// Where reports go. The build sets the defaults (MORVIL_REPORT_URL_DEFAULT and
// MORVIL_ANALYTICS_URL_DEFAULT); the environment variables MORVIL_REPORT_URL and
// MORVIL_ANALYTICS_URL, when set and not empty, replace them for one run.
#pragma once

#include <string>

// The maker's report endpoint: an http URL whose path is "/report".
[[nodiscard]] std::string ConfiguredReportUrl();
// The analytics collection base URL: scheme and host, no trailing slash.
[[nodiscard]] std::string ConfiguredAnalyticsUrl();
