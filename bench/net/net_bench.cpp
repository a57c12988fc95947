// Cost of the network services' calls: one echo probe to 127.0.0.1 (a new socket per probe, as
// the probe does, beside one reused socket and the system's ping), one traffic counter read, and
// the proxy settings calls on the keyfile backend in a temporary directory. Prints microseconds.
#include <arpa/inet.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "net/network_data_stream.h"
#include "net/proxy_config.h"
#include "platform/icmp_echo.h"

namespace {

double Measure(const char* what, int rounds, const std::function<void()>& call) {
  call();  // warm-up
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) call();
  std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  double each = spent.count() / rounds;
  std::printf("%-48s %9.1f us/call (%d calls)\n", what, each, rounds);
  return each;
}

void SystemPing(int rounds) {
  std::string command = "ping -n -q -i 0 -c " + std::to_string(rounds) + " 127.0.0.1 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string text = line;
    if (text.find("rtt") == 0 || text.find("transmitted") != std::string::npos)
      std::printf("  system ping: %s", line);
  }
  pclose(pipe);
}

}  // namespace

int main() {
  const uint32_t loopback = htonl(INADDR_LOOPBACK);
  const std::vector<uint8_t> data(33, 0x41);
  if (Result<IcmpEchoSocket> probe = IcmpEchoSocket::Open()) {
    std::printf("echo socket kind: %s\n",
                probe->kind() == IcmpEchoSocket::Kind::kRaw ? "raw" : "datagram");
    int failed = 0;
    Measure("echo 127.0.0.1, new socket per probe", 2000,
            [&] { failed += SendIcmpEcho(loopback, data, 1000).status != kIcmpSuccess; });
    // Opened only now: a raw socket receives a copy of every ICMP packet of the host, so one
    // kept open through the series above would have a full queue and drop its own answer.
    Result<IcmpEchoSocket> socket = IcmpEchoSocket::Open();
    Measure("echo 127.0.0.1, one socket reused", 2000,
            [&] { failed += socket->Echo(loopback, data, 1000).status != kIcmpSuccess; });
    std::printf("  unanswered probes: %d\n", failed);
    SystemPing(2000);
  } else {
    std::printf("no echo socket may be opened here: %s\n", probe.error().context.c_str());
  }

  CNetWorkDataStream stream;
  Measure("GetNetworkInfo", 2000, [&] { (void)stream.GetNetworkInfo(); });

  char pattern[] = "/tmp/morvil-bench-XXXXXX";
  std::string dir = mkdtemp(pattern);
  setenv("GSETTINGS_BACKEND", "keyfile", 1);
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  CProxyConfig proxy([](const Text&) { std::puts("proxy write failed"); });
  Measure("GetProxyType", 500, [&] { (void)proxy.GetProxyType(); });
  Measure("SetAutoConfigProxy (write and sync)", 200,
          [&] { proxy.SetAutoConfigProxy(u"http://127.0.0.1:8080/proxy.pac"); });
  Measure("DisableProxy (write and sync)", 200, [&] { proxy.DisableProxy(); });
  std::filesystem::remove_all(dir);
}
