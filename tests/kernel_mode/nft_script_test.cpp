// The component's nftables commands, loaded into a real kernel inside a private network and
// mount namespace (root only), and the reading of listings.
#include "kernel_mode/nft_script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "kernel_mode/nft.h"
#include "support/private_network.h"

namespace {

constexpr uid_t kUid = 4123456;

CatchPlan Plan() {
  CatchPlan plan;
  plan.ports = {1001, 1002, 1003, 1004};
  plan.groups = {1, 2};
  plan.catching = true;
  plan.launcher = true;
  plan.proxy_ipv4 = {"10.1.2.3"};
  plan.proxy_ipv6 = {"2001:db8::99"};
  return plan;
}

// The position of the first rule of `chain` that contains `text`; npos when none does.
size_t RuleAt(const std::string& script, const std::string& chain, const std::string& text) {
  const std::string head = "add rule inet morvil " + chain + "_u4123456 ";
  for (size_t at = script.find(head); at != std::string::npos; at = script.find(head, at + 1)) {
    size_t end = script.find('\n', at);
    if (script.substr(at, end - at).find(text) != std::string::npos) return at;
  }
  return std::string::npos;
}

TEST(NftScriptTest, NothingNewIsCaughtWhileAccelerationIsOff) {
  CatchPlan plan = Plan();
  plan.catching = false;
  std::string script = ApplyScript(KeysForUser(kUid), plan, {});
  EXPECT_EQ(script.find("goto new_u4123456"), std::string::npos);
  // Connections caught before go on through the relay until they end.
  EXPECT_NE(RuleAt(script, "catch", "goto caught_u4123456"), std::string::npos);
  EXPECT_NE(RuleAt(script, "caught", "@tcp4_u4123456 update"), std::string::npos);
  // The groups' counters stay, for the programs' totals.
  EXPECT_NE(script.find("add counter inet morvil u4123456_g2_down"), std::string::npos);
}

TEST(NftScriptTest, ExclusionsComeFirstAndProgramGroupsBeforeTheLaunchersGroup) {
  UserKeys keys = KeysForUser(kUid);
  std::string script = ApplyScript(keys, Plan(), {});
  // Every other socket of the machine leaves after one test.
  EXPECT_NE(RuleAt(script, "output", "socket cgroupv2 level 2 \"morvil/u4123456\" goto catch"),
            std::string::npos);
  EXPECT_EQ(RuleAt(script, "output", "return"), std::string::npos);
  size_t group = RuleAt(script, "catch", "level 3 \"morvil/u4123456/g2\" goto new");
  size_t launcher = RuleAt(script, "catch", "level 2 \"morvil/u4123456\" goto new");
  ASSERT_NE(group, std::string::npos);
  ASSERT_NE(launcher, std::string::npos);
  EXPECT_LT(group, launcher);
  // Later packets of a connection, answers to peers that came from outside, loopback and the
  // proxy are decided before any rule that catches something new.
  for (const char* first : {"goto caught", "@answers4_u4123456 return", "127.0.0.0/8",
                            "ip daddr { 10.1.2.3 } return", "2001:db8::99", "th dport 53"})
    EXPECT_LT(RuleAt(script, "catch", first), group) << first;
  EXPECT_LT(RuleAt(script, "count", "\"morvil/u4123456/g2\" counter name \"u4123456_g2_up\""),
            RuleAt(script, "count", "level 2 \"morvil/u4123456\" counter name \"u4123456_gl_up\""));
  // The relay's packets to the programs are counted by their mark.
  EXPECT_NE(RuleAt(script, "input", "meta mark 0x6d77eb40 goto received"), std::string::npos);
  // A full set refuses the connection rather than letting it go direct.
  EXPECT_LT(RuleAt(script, "new", "update @tcp6_u4123456"),
            RuleAt(script, "new", "meta l4proto tcp reject with tcp reset"));
}

TEST(NftScriptTest, ProxyDownRefusesNewConnections) {
  CatchPlan down = Plan();
  down.proxy_down = true;
  std::string script = ApplyScript(KeysForUser(kUid), down, {});
  size_t reject = RuleAt(script, "new", "meta l4proto tcp reject with tcp reset");
  ASSERT_NE(reject, std::string::npos);
  EXPECT_LT(reject, RuleAt(script, "new", "update @tcp4_u4123456"));
  EXPECT_LT(RuleAt(script, "new", "meta l4proto udp reject"),
            RuleAt(script, "new", "meta l4proto udp goto count"));
}

TEST(NftScriptTest, ReadsOwnersAndCountersFromAListing) {
  const std::string listing =
      "table inet morvil {\n\tcounter u7_g1_up {\n\t\tpackets 3 bytes 180\n\t}\n"
      "\tcounter u7_g1_down {\n\t\tpackets 0 bytes 0\n\t}\n"
      "\tchain output_u7 {\n\t}\n\tchain output_u1000 {\n\t}\n\tchain output_ux {\n\t}\n"
      "\tcounter u7_g2_up {\n\t\tpackets 1\n\t}\n\tcounter u7_g3_up {\n\t\tpackets 1 bytes ";
  EXPECT_EQ(ChainOwners(listing), (std::vector<uint32_t>{7, 1000}));
  EXPECT_EQ(CounterBytes(listing, "u7_g1_up"), 180u);
  EXPECT_EQ(CounterBytes(listing, "u7_g1_down"), 0u);
  EXPECT_EQ(CounterBytes(listing, "u7_g9_up"), 0u);  // absent
  EXPECT_EQ(CounterBytes(listing, "u7_g2_up"), 0u);  // no bytes before its end
  EXPECT_EQ(CounterBytes(listing, "u7_g3_up"), 0u);  // cut off
}

// Loads, replaces and removes the user's rules, in private namespaces with cgroup2 mounted,
// as the component does; the kernel must take every script and the table must end empty.
int LoadInPrivateNamespace() {
  UserKeys keys = KeysForUser(kUid);
  const std::filesystem::path user = "/sys/fs/cgroup/" + UserCgroup(keys);
  std::error_code ec;
  std::filesystem::create_directories(user / "g1", ec);
  std::filesystem::create_directories(user / "g2", ec);
  int failures = 0;
  {
    Result<Nft> nft = Nft::Create();
    if (!nft) return 1;
    failures += !nft->Run(ApplyScript(keys, Plan(), {}));
    CatchPlan fewer = Plan();
    fewer.groups = {2};
    fewer.proxy_down = true;
    failures += !nft->Run(ApplyScript(keys, fewer, {1}));
    Result<std::string> listing = nft->Run(ListTableScript());
    failures += !listing || listing->find("u4123456_g1_up") != std::string::npos ||
                listing->find("u4123456_g2_up") == std::string::npos;
    failures += !nft->Run(RemovalScript(keys, {2}));
    listing = nft->Run(ListTableScript());
    failures += !listing || !ChainOwners(*listing).empty() ||
                listing->find("counter") != std::string::npos ||
                listing->find("set ") != std::string::npos;
    failures += !nft->Run(DeleteTableScript());
  }
  for (const std::filesystem::path& dir : {user / "g1", user / "g2", user, user.parent_path()})
    std::filesystem::remove(dir, ec);  // morvil/ stays while others' groups are in it
  return failures;
}

TEST(NftScriptTest, KernelTakesEveryScript) {
  ExpectNoFailuresWithPrivateNetworkAndCgroups(LoadInPrivateNamespace);
}

}  // namespace
