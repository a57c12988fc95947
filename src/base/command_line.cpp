#include "base/command_line.h"

#include <fstream>
#include <iterator>
#include <string>

std::vector<Text> GetCommandLineArgs() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  if (!in) return {};
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Text> args;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(FromUtf8(std::string_view(all).substr(start, end - start)));
    start = end + 1;
  }
  return args;
}
