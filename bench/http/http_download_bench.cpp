// DownLoadFile of a 200 MB file from a loopback server, beside the curl program fetching the
// same file in the same run. Prints each round's times and the best-of ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "net/base_http_file.h"
#include "support/loopback_http_server.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  testing_support::LoopbackHttpServer server;
  {
    std::ofstream out(server.root() / "big.bin", std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
    for (size_t i = 0; i < megabytes; ++i) out.write(block.data(), block.size());
  }
  const std::string url = server.http("/file/big.bin");
  fs::path out_dir = testing_support::MakeTempDir("morvil-bench");
  const std::string ours = (out_dir / "ours.bin").string();
  const std::string theirs = (out_dir / "curl.bin").string();
  const std::string curl_cmd = "curl -s -f -o '" + theirs + "' '" + url + "'";

  std::vector<double> ours_s, curl_s;
  for (int round = 0; round < rounds; ++round) {
    auto t0 = Clock::now();
    if (std::system(curl_cmd.c_str()) != 0) return std::fprintf(stderr, "curl failed\n"), 1;
    auto t1 = Clock::now();
    if (!TheHttpFile().DownLoadFile(FromUtf8(url), FromUtf8(ours)))
      return std::fprintf(stderr, "DownLoadFile failed\n"), 1;
    auto t2 = Clock::now();
    curl_s.push_back(std::chrono::duration<double>(t1 - t0).count());
    ours_s.push_back(std::chrono::duration<double>(t2 - t1).count());
    std::printf("round %d: curl %.3f s, DownLoadFile %.3f s\n", round + 1, curl_s.back(),
                ours_s.back());
    fs::remove(ours);
    fs::remove(theirs);
  }
  double best_ours = *std::min_element(ours_s.begin(), ours_s.end());
  double best_curl = *std::min_element(curl_s.begin(), curl_s.end());
  std::sort(ours_s.begin(), ours_s.end());
  std::sort(curl_s.begin(), curl_s.end());
  double mb = static_cast<double>(megabytes) * 1.048576;
  std::printf("%zu MiB: best curl %.3f s (%.0f MB/s), best DownLoadFile %.3f s (%.0f MB/s)\n",
              megabytes, best_curl, mb / best_curl, best_ours, mb / best_ours);
  std::printf("throughput ratio DownLoadFile/curl: best %.3f, median %.3f\n", best_curl / best_ours,
              curl_s[rounds / 2] / ours_s[rounds / 2]);
  fs::remove_all(out_dir);
  return 0;
}
