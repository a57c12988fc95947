/* The report library: usage events to the maker's report endpoint and to analytics.
 * Load libQuillet.so and call these from one thread at a time. Texts are zero-terminated 8-bit
 * strings in the locale's code page. Call ReportWait before unloading the library so that
 * requests in flight can leave. */
#ifndef QUILLET_H
#define QUILLET_H

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the source id (normalised: "setup_1234.exe" becomes "1234"), version, tracking id and
 * report URL, then turns both endpoints to https (useHttps nonzero) or http. */
void InitReport(const char* version, const char* sourceId, const char* trackingId,
                const char* reportUrl, int useHttps);
/* Reports an event; action and label go into the URLs as they are. Returns at once. */
void StartReport(const char* action, const char* label);
/* Reports an event with action and label UTF-8 and percent-encoded first. Returns at once. */
void StartReportZh(const char* action, const char* label);
/* Waits one second at a time while requests are pending: at least 1 s, at most 10 s. */
void ReportWait(void);
/* The current source id. Owned by the library; valid until the next InitReport or unloading. */
const char* GetSourceId(void);

#ifdef __cplusplus
}
#endif

#endif
