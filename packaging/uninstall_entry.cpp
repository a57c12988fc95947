// morvil-uninstall-entry: the product's uninstall entry in the machine registry store, which the
// program reads for its version and distribution source. The package's maintainer scripts run it
// as root:
//
//   morvil-uninstall-entry write VERSION SOURCE_ID   after installing or upgrading
//   morvil-uninstall-entry remove                    before removing the package
//   morvil-uninstall-entry show                      prints the values the program reads
//
// Exit code 0 on success (removing an entry that is not there succeeds), 1 with a message on
// standard error otherwise, 2 for a wrong command line.
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "app/product.h"
#include "base/path.h"
#include "base/text.h"
#include "platform/registry_key.h"
#include "report/report_setup.h"
#include "services/base_reg_key.h"

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "morvil-uninstall-entry: %s\n", what.c_str());
  return 1;
}

// The entry's path below the root name "HKEY_LOCAL_MACHINE\".
Text Subkey() {
  const Text path = UninstallKeyPath(kProductDisplayName);
  return path.substr(path.find(u'\\') + 1);
}

int Write(const Text& version, const Text& sourceId) {
  CBaseRegKey key;
  const Text path = UninstallKeyPath(kProductDisplayName);
  if (key.Open(path) != 0) return Fail("cannot create " + ToUtf8(path) + " (not root?)");
  const std::pair<const char16_t*, Text> values[] = {
      {u"DisplayName", kProductDisplayName},
      {u"DisplayVersion", version},
      {u"SourceID", sourceId},
      {u"InstallLocation", GetAppDirectory()},
  };
  for (const auto& [name, value] : values) {
    if (key.SetString(name, value) != 0) return Fail("cannot write " + ToUtf8(name));
  }
  return 0;
}

int Remove() {
  Result<void> deleted = RegistryKey::Delete(RegistryRoot::kLocalMachine, Subkey());
  if (!deleted && deleted.error().code != kRegistryNotFound)
    return Fail("cannot remove the entry: " + deleted.error().context);
  return 0;
}

// Reads the entry the way the program does (any user may); a missing value prints empty. A
// missing entry is not created.
int Show() {
  const bool exists =
      static_cast<bool>(RegistryKey::OpenExisting(RegistryRoot::kLocalMachine, Subkey()));
  CBaseRegKey key;
  if (exists) key.Open(UninstallKeyPath(kProductDisplayName));
  for (const char16_t* name : {u"DisplayVersion", u"SourceID"}) {
    Text value;
    if (!exists || key.QueryString(name, value) != 0) value.clear();
    std::printf("%s=%s\n", ToUtf8(name).c_str(), ToUtf8(value).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "write" && argc == 4 && argv[2][0] != '\0')
    return Write(FromUtf8(argv[2]), FromUtf8(argv[3]));
  if (command == "remove" && argc == 2) return Remove();
  if (command == "show" && argc == 2) return Show();
  std::fputs("usage: morvil-uninstall-entry write VERSION SOURCE_ID | remove | show\n", stderr);
  return 2;
}
