#include "base/split.h"

std::vector<Text> SplitText(TextView text, char16_t separator) {
  std::vector<Text> parts;
  TextView rest = text;
  size_t at;
  while (!rest.empty() && (at = rest.find(separator)) != TextView::npos) {
    parts.emplace_back(rest.substr(0, at));
    rest.remove_prefix(at + 1);
  }
  if (!rest.empty()) parts.emplace_back(rest);
  return parts;
}
