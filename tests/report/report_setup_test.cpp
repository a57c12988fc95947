#include "report/report_setup.h"

#include <gtest/gtest.h>

#include <map>

#include "report/client_id.h"
#include "report/report_methods.h"

namespace {

class FakeRegistry : public RegistryStringReader {
 public:
  Text ReadString(const Text& keyPath, const Text& valueName) override {
    keys.push_back(keyPath);
    auto it = values.find(valueName);
    return it == values.end() ? Text() : it->second;
  }
  std::map<Text, Text> values;
  std::vector<Text> keys;
};

ReportInstance<char16_t>::Defaults TestDefaults() {
  return {.reportUrl = u"",
          .analyticsUrl = u"https://an.example",
          .trackingId = u"UA-13572468-1",
          .userAgent = "morvil"};
}

TEST(ReportInstanceTest, UrlsCarryTheFieldsInOrder) {
  ReportInstance<char16_t> reports(TestDefaults());
  reports.SetReportUrl(u"http://r.example/report");
  reports.SetClientId(u"5E4D3C2B1A00");
  reports.SetInstallDate(u"2024-01-02");
  EXPECT_EQ(reports.BuildReportUrl(u"start", u"ok"),
            u"http://r.example/report?a=start&v=1.0&s=0&p=ok&c=5E4D3C2B1A00");
  EXPECT_EQ(reports.BuildAnalyticsUrl(u"start", u"ok", 41),
            u"https://an.example/collect?v=1&tid=UA-13572468-1&cid=5E4D3C2B1A00&t=event"
            u"&ec=client&ea=start&el=ok&z=41&de=UTF-8&cd1=0&cd2=1.0&cd3=2024-01-02");
}

TEST(ReportInstanceTest, SchemeSwitchesBothEndpointsBothWays) {
  ReportInstance<char> reports({.reportUrl = "http://r.example/report",
                                .analyticsUrl = "https://an.example",
                                .trackingId = "t",
                                .userAgent = "Quillet"});
  reports.SetReportScheme(true);
  EXPECT_EQ(reports.GetReportUrl(), "https://r.example/report");
  EXPECT_EQ(reports.GetAnalyticsUrl(), "https://an.example");
  reports.SetReportScheme(true);
  EXPECT_EQ(reports.GetReportUrl(), "https://r.example/report");
  reports.SetReportScheme(false);
  EXPECT_EQ(reports.GetReportUrl(), "http://r.example/report");
  EXPECT_EQ(reports.GetAnalyticsUrl(), "http://an.example");
}

TEST(ReportSetUpTest, ReadsTheUninstallEntryAndTurnsEndpointsToHttp) {
  ReportInstance<char16_t> reports(TestDefaults());
  FakeRegistry registry;
  registry.values = {{u"SourceID", u"setup_77x.exe"}, {u"DisplayVersion", u"3.1.4"}};
  RunMainWindowReportSetUp(reports, registry, u"Morvil Accelerator");
  EXPECT_EQ(registry.keys, (std::vector<Text>(2,
                                              u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\"
                                              u"CurrentVersion\\Uninstall\\Morvil Accelerator")));
  EXPECT_EQ(reports.GetVersion(), u"3.1.4");
  EXPECT_EQ(reports.GetSourceId(), u"77x");
  EXPECT_EQ(reports.GetAnalyticsUrl(), u"http://an.example");
  EXPECT_EQ(reports.GetReportUrl().substr(0, 7), u"http://");
  EXPECT_NE(reports.BuildAnalyticsUrl(u"a", u"b", 1).find(u"tid=UA-13572468-2&"), Text::npos);

  FakeRegistry empty;
  RunMainWindowReportSetUp(reports, empty, u"Morvil Accelerator");
  EXPECT_EQ(reports.GetVersion(), u"");
  EXPECT_EQ(reports.GetSourceId(), u"");
}

TEST(ReportMethodsTest, InitReportStoresTheSourceIdUnchanged) {
  InitReport(u"2.0", u"setup_1234.exe", u"UA-1", u"http://r.example/report", true);
  EXPECT_EQ(GetSourceID(), u"setup_1234.exe");
  EXPECT_EQ(GetVersion(), u"2.0");
  EXPECT_EQ(MorvilReportInstance().GetReportUrl(), u"https://r.example/report");
  InitReport(u"2.0", u"0", u"UA-1", u"http://r.example/report", false);
  EXPECT_EQ(MorvilReportInstance().GetReportUrl(), u"http://r.example/report");
  EXPECT_EQ(GetClientID(), FromUtf8(ReadMachineClientId()));
  EXPECT_EQ(GetInstallDate().size(), 10u);
}

}  // namespace
