#include "report/report_config.h"

#include <cstdlib>

#ifndef MORVIL_REPORT_URL_DEFAULT
#define MORVIL_REPORT_URL_DEFAULT "http://report.morvil.invalid/report"
#endif
#ifndef MORVIL_ANALYTICS_URL_DEFAULT
#define MORVIL_ANALYTICS_URL_DEFAULT "http://www.google-analytics.com"
#endif

namespace {

std::string FromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

}  // namespace

std::string ConfiguredReportUrl() {
  return FromEnvironment("MORVIL_REPORT_URL", MORVIL_REPORT_URL_DEFAULT);
}

std::string ConfiguredAnalyticsUrl() {
  return FromEnvironment("MORVIL_ANALYTICS_URL", MORVIL_ANALYTICS_URL_DEFAULT);
}
