// The clean-up after a component that did not end cleanly, and a start without the rules' lock,
// against a real kernel inside a private network and mount namespace (root only).
#include "kernel_mode/component.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "kernel_mode/nft.h"
#include "kernel_mode/nft_script.h"
#include "support/private_network.h"
#include "support/temp_dir.h"

namespace {

constexpr uid_t kGone = 4123457;   // its component was killed, leaving its rules
constexpr uid_t kOther = 4123458;  // its component still runs

CatchPlan PlanWith(std::vector<uint32_t> groups) {
  CatchPlan plan;
  plan.ports = {1001, 1002, 1003, 1004};
  plan.groups = std::move(groups);
  plan.catching = true;
  return plan;
}

// Loads the rules of both users, cleans up after the first, and reads what is left (in private
// namespaces with cgroup2 mounted).
int CleanUpInPrivateNamespace() {
  const UserKeys gone = KeysForUser(kGone), other = KeysForUser(kOther);
  std::error_code ec;
  for (const UserKeys* keys : {&gone, &other})
    for (const char* group : {"g3", "g70"})
      std::filesystem::create_directories("/sys/fs/cgroup/" + UserCgroup(*keys) + "/" + group, ec);
  const std::filesystem::path system_dir = testing_support::MakeTempDir("component-system");
  int failures = 0;
  {
    Result<Nft> nft = Nft::Create();
    if (!nft) return 1;
    failures += !nft->Run(ApplyScript(gone, PlanWith({3, 70}), {}));
    failures += !nft->Run(ApplyScript(other, PlanWith({3, 70}), {}));
    Component::CleanUp(kGone, system_dir);
    Result<std::string> listing = nft->Run(ListTableScript());
    failures += !listing;
    if (listing) {
      // Every counter of the user who left is gone, with its chains; the other's stay.
      failures += listing->find("counter u4123457_") != std::string::npos;
      failures += ChainOwners(*listing) != std::vector<uint32_t>{kOther};
      failures +=
          listing->find("counter " + CounterName(other, 70, true) + " {") == std::string::npos;
    }
    failures += !nft->Run(RemovalScript(other, {3, 70}));
    failures += !nft->Run(DeleteTableScript());
  }
  failures += std::filesystem::exists("/sys/fs/cgroup/" + UserCgroup(gone));
  for (const char* dir : {"/g3", "/g70", ""})
    std::filesystem::remove("/sys/fs/cgroup/" + UserCgroup(other) + dir, ec);
  std::filesystem::remove("/sys/fs/cgroup/morvil", ec);  // stays while others' groups are in it
  std::filesystem::remove_all(system_dir, ec);
  return failures;
}

TEST(ComponentTest, CleanUpRemovesEveryCounterOfTheUserAndNothingOfOthers) {
  ExpectNoFailuresWithPrivateNetworkAndCgroups(CleanUpInPrivateNamespace);
}

// Another user's component may be changing the shared table: without the lock that orders
// those changes (here its file cannot be opened), a component loads no rules and does not start.
int StartWithoutTheRulesLock() {
  const std::filesystem::path system_dir = testing_support::MakeTempDir("component-system");
  std::error_code ec;
  std::filesystem::create_directory(system_dir / "rules.lock", ec);
  int failures = ec ? 1 : 0;
  Result<std::unique_ptr<Component>> started =
      Component::Start({kGone, (system_dir / "runtime").string(), system_dir});
  failures += static_cast<bool>(started);
  Result<Nft> nft = Nft::Create();
  failures += !nft;
  if (nft) {
    Result<std::string> listing = nft->Run(ListTableScript());
    failures += listing && !ChainOwners(*listing).empty();
  }
  failures += std::filesystem::exists("/sys/fs/cgroup/" + UserCgroup(KeysForUser(kGone)));
  std::filesystem::remove_all(system_dir, ec);
  return failures;
}

TEST(ComponentTest, NoRulesAreLoadedWithoutTheLockOfTheSharedTable) {
  ExpectNoFailuresWithPrivateNetworkAndCgroups(StartWithoutTheRulesLock);
}

}  // namespace
