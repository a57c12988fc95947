#include "platform/interface_table.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <filesystem>
#include <fstream>

#include "support/temp_home.h"

namespace {

void WriteCounters(const std::filesystem::path& root, const std::string& name,
                   const std::string& rx, const std::string& tx) {
  std::filesystem::create_directories(root / name / "statistics");
  TempHome::WriteAll(root / name / "statistics" / "rx_bytes", rx);
  TempHome::WriteAll(root / name / "statistics" / "tx_bytes", tx);
}

TEST(InterfaceTableTest, AdaptersAreNamedInterfacesInIndexOrderWithoutLoopback) {
  Result<std::vector<NetworkAdapter>> adapters = ListIpv4Adapters();
  ASSERT_TRUE(adapters);
  for (size_t i = 0; i < adapters->size(); ++i) {
    const NetworkAdapter& adapter = (*adapters)[i];
    SCOPED_TRACE(adapter.name);
    EXPECT_NE(adapter.name, "lo");
    EXPECT_EQ(if_nametoindex(adapter.name.c_str()), adapter.index);
    if (i > 0) {
      EXPECT_GT(adapter.index, (*adapters)[i - 1].index);
    }
  }
}

TEST(InterfaceTableTest, CountersKeepTheLow32Bits) {
  TempHome home;
  WriteCounters(home.root(), "eth7", "3000000000\n", "5000000000\n");
  Result<InterfaceByteCounters> counters = InterfaceCounterReader(home.root()).Read("eth7");
  ASSERT_TRUE(counters);
  EXPECT_EQ(counters->received, 3000000000u);
  EXPECT_EQ(counters->sent, 705032704u);  // 5,000,000,000 - 2^32
}

TEST(InterfaceTableTest, MissingOrMalformedCountersFail) {
  TempHome home;
  WriteCounters(home.root(), "junk", "many\n", "12\n");
  WriteCounters(home.root(), "half", "12\n", "");
  InterfaceCounterReader reader(home.root());
  EXPECT_FALSE(reader.Read("junk"));
  EXPECT_FALSE(reader.Read("half"));
  EXPECT_FALSE(reader.Read("absent"));
}

}  // namespace
