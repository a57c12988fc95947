// Cost of one page call to the registry and INI methods on a temporary store: each call opens
// its own database connection (or file), as the methods do. Prints microseconds per call.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "services/file_methods.h"
#include "services/registry_methods.h"

namespace {

void Measure(const char* what, int rounds, const std::function<void(int)>& call) {
  call(-1);  // warm-up: creates the store, keys and files
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) call(i);
  std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  std::printf("%-40s %8.1f us/call (%d calls)\n", what, spent.count() / rounds, rounds);
}

}  // namespace

int main() {
  char pattern[] = "/tmp/morvil-bench-XXXXXX";
  std::string dir = mkdtemp(pattern);
  setenv("MORVIL_REGISTRY_DIR", dir.c_str(), 1);
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  const Text key = u"HKEY_CURRENT_USER\\Software\\Bench";
  Measure("RegWriteString", 500, [&](int i) {
    if (RegWriteString(key, u"v", u"value " + Text(1, char16_t(u'a' + (i & 15)))))
      std::puts("write failed");
  });
  Measure("RegReadString", 2000, [&](int) { (void)RegReadString(key, u"v"); });
  Measure("RegReadInt (missing value)", 2000, [&](int) { (void)RegReadInt(key, u"none"); });
  const Text ini = FromUtf8(dir + "/bench.ini");
  Measure("WriteConfig", 500, [&](int i) {
    if (!WriteConfig(ini, u"S", u"k" + Text(1, char16_t(u'a' + (i & 15))), u"v"))
      std::puts("write failed");
  });
  Measure("ReadConfig", 2000, [&](int) { (void)ReadConfig(ini, u"S", u"kc"); });
  const Text txt = FromUtf8(dir + "/bench.txt");
  Measure("WriteFileContent (1 KiB)", 500, [&](int) {
    if (!WriteFileContent(txt, Text(1024, u'x'))) std::puts("write failed");
  });
  Measure("ReadFileContent (1 KiB)", 2000, [&](int) { (void)ReadFileContent(txt); });
  std::filesystem::remove_all(dir);
  return 0;
}
